// errors: the error words the document adds to those of the media layer
// (media/errors.h). The values are fixed; compare against these names.
#pragma once

namespace doc::err {

inline constexpr char kWrongKind[] = "WRONG_KIND";  // an image operation on a video, or the reverse

}  // namespace doc::err
