// The export's filter graphs: the per-segment video and audio chains as
// text, and the graphs built from them.
#include "media/video_export_internal.h"

#include "media/hdr.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace media::exporter {

namespace {

// Seconds with three decimals and a point whatever the process locale: the
// filter-graph parser reads only the point.
std::string fixed3(double v) {
  char buf[48];
  const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 3);
  return std::string(buf, res.ec == std::errc() ? res.ptr : buf);
}

std::string sizeText(int w, int h) {
  return std::to_string(w) + ":" + std::to_string(h);
}

// "t=in:st=1.000:d=0.500".
std::string fadeCore(const FadePiece& f) {
  return std::string("t=") + (f.in ? "in" : "out") + ":st=" + fixed3(f.startS) +
         ":d=" + fixed3(f.lengthS);
}

// The timeline window that keeps a fade to its piece: outside its span the
// filter would leave the picture black or the sound silent.
std::string enableWindow(const FadePiece& f) {
  return ":enable='between(t\\," + fixed3(f.fromS) + "\\," + fixed3(f.toS) + ")'";
}

// The fades of a chain, wrapped in the time-stamp move when there is one.
std::string fadeFilters(const std::vector<FadePiece>& fades, int64_t shiftTicks, bool audio) {
  std::string chain;
  for (const FadePiece& f : fades) {
    if (f.lengthS < 0.001 || f.toS - f.fromS < 0.001) continue;
    chain += audio ? "afade=" : "fade=";
    chain += fadeCore(f) + (audio ? "" : ":alpha=0") + enableWindow(f) + ",";
  }
  if (chain.empty() || shiftTicks <= 0) return chain;
  const std::string ticks = std::to_string(shiftTicks);
  const char* setpts = audio ? "asetpts" : "setpts";
  return std::string(setpts) + "=PTS+" + ticks + "," + chain + setpts + "=PTS-" + ticks + ",";
}

// Links "in" -> chain -> "out" and configures the graph.
bool linkAndConfigure(AVFilterGraph* g, AVFilterContext* src, AVFilterContext* sink,
                      const std::string& chain, AVBufferRef* device) {
  InOutPtr outputs(avfilter_inout_alloc());
  InOutPtr inputs(avfilter_inout_alloc());
  if (!outputs || !inputs) return false;
  outputs->name = av_strdup("in");
  outputs->filter_ctx = src;
  inputs->name = av_strdup("out");
  inputs->filter_ctx = sink;
  if (!outputs->name || !inputs->name) return false;
  AVFilterInOut* in = inputs.release();
  AVFilterInOut* out = outputs.release();
  const int parsed = avfilter_graph_parse_ptr(g, chain.c_str(), &in, &out, nullptr);
  avfilter_inout_free(&in);
  avfilter_inout_free(&out);
  if (parsed < 0) return false;
  if (device) {
    for (unsigned i = 0; i < g->nb_filters; ++i) {
      AVFilterContext* f = g->filters[i];
      if (std::strcmp(f->filter->name, "hwupload") != 0) continue;
      av_buffer_unref(&f->hw_device_ctx);
      f->hw_device_ctx = av_buffer_ref(device);
      if (!f->hw_device_ctx) return false;
    }
  }
  return avfilter_graph_config(g, nullptr) >= 0;
}

// The frame's channel layout as the abuffer filter reads it; a layout that
// only gives a channel count becomes that count's usual layout.
std::string layoutText(const AVChannelLayout& layout) {
  AVChannelLayout named{};
  if (layout.order == AV_CHANNEL_ORDER_UNSPEC || layout.nb_channels <= 0) {
    av_channel_layout_default(&named, layout.nb_channels > 0 ? layout.nb_channels : 2);
  } else if (av_channel_layout_copy(&named, &layout) < 0) {
    return "stereo";
  }
  char buf[128] = {};
  const int n = av_channel_layout_describe(&named, buf, sizeof buf);
  av_channel_layout_uninit(&named);
  return n > 0 ? std::string(buf) : "stereo";
}

}  // namespace

// ============================================================================
// Chains
// ============================================================================

std::string videoChain(int rotation, FitMode fit, int width, int height,
                       const std::vector<FadePiece>& fades, int64_t shiftTicks, ChainEnd end,
                       const char* encoderPixelFormat, double toneMapPeak) {
  std::string chain;
  switch (rotation) {
    case 90: chain += "transpose=clock,"; break;
    case 180: chain += "transpose=clock,transpose=clock,"; break;
    case 270: chain += "transpose=cclock,"; break;
    default: break;
  }
  const std::string size = sizeText(width, height);
  switch (fit) {
    case FitMode::Contain:
      chain += "scale=" + size + ":force_original_aspect_ratio=decrease,pad=" + size +
               ":(ow-iw)/2:(oh-ih)/2:color=black,setsar=1,";
      break;
    case FitMode::Stretch: chain += "scale=" + size + ",setsar=1,"; break;
    case FitMode::Cover:
      chain +=
          "scale=" + size + ":force_original_aspect_ratio=increase,crop=" + size + ",setsar=1,";
      break;
  }
  // After the fit, so the floating-point steps see only the output's pixels.
  if (toneMapPeak > 0) chain += toneMapChain(toneMapPeak) + ",";
  chain += fadeFilters(fades, shiftTicks, false);
  switch (end) {
    case ChainEnd::Software: chain += std::string("format=") + encoderPixelFormat; break;
    case ChainEnd::HardwareNv12: chain += "format=nv12"; break;
    case ChainEnd::HardwareUpload: chain += "format=nv12,hwupload"; break;
  }
  return chain;
}

std::string audioChain(const std::vector<FadePiece>& fades, int64_t shiftTicks, int sampleRate,
                       const std::string& channelLayout) {
  std::string chain = fadeFilters(fades, shiftTicks, true);
  chain += "aresample=" + std::to_string(sampleRate) +
           ",aformat=sample_fmts=fltp:channel_layouts=" + channelLayout;
  return chain;
}

std::vector<FadePiece> shiftPieces(const std::vector<FadePiece>& pieces, AVRational tb,
                                   int64_t* shiftTicks) {
  *shiftTicks = 0;
  double earliest = 0;
  for (const FadePiece& f : pieces) earliest = std::min(earliest, f.startS);
  if (earliest >= 0 || tb.num <= 0 || tb.den <= 0) return pieces;
  // Whole ticks, so the move back restores every time stamp exactly.
  *shiftTicks = static_cast<int64_t>(std::ceil(-earliest / av_q2d(tb)));
  const double s = static_cast<double>(*shiftTicks) * av_q2d(tb);
  std::vector<FadePiece> out = pieces;
  for (FadePiece& f : out) {
    f.startS += s;
    f.fromS += s;
    f.toS += s;
  }
  return out;
}

// ============================================================================
// Graphs
// ============================================================================

Graph buildVideoGraph(const AVFrame* first, AVRational timeBase, const std::string& chain,
                      AVBufferRef* device, const char* scalerOptions) {
  Graph g;
  g.graph.reset(avfilter_graph_alloc());
  if (!g.graph) return {};
  if (scalerOptions) {
    g.graph->scale_sws_opts = av_strdup(scalerOptions);
    if (!g.graph->scale_sws_opts) return {};
  }
  AVRational sar = first->sample_aspect_ratio;
  if (sar.num <= 0 || sar.den <= 0) sar = AVRational{1, 1};
  char args[256];
  std::snprintf(args, sizeof args, "video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d",
                first->width, first->height, first->format, timeBase.num, timeBase.den, sar.num,
                sar.den);
  if (avfilter_graph_create_filter(&g.src, avfilter_get_by_name("buffer"), "in", args, nullptr,
                                   g.graph.get()) < 0 ||
      avfilter_graph_create_filter(&g.sink, avfilter_get_by_name("buffersink"), "out", nullptr,
                                   nullptr, g.graph.get()) < 0 ||
      !linkAndConfigure(g.graph.get(), g.src, g.sink, chain, device)) {
    return {};
  }
  return g;
}

Graph buildAudioGraph(const AVFrame* first, AVRational timeBase, const std::string& chain) {
  Graph g;
  g.graph.reset(avfilter_graph_alloc());
  if (!g.graph) return {};
  const char* format = av_get_sample_fmt_name(static_cast<AVSampleFormat>(first->format));
  if (!format) return {};
  char args[384];
  std::snprintf(args, sizeof args, "time_base=%d/%d:sample_rate=%d:sample_fmt=%s:channel_layout=%s",
                timeBase.num, timeBase.den, first->sample_rate, format,
                layoutText(first->ch_layout).c_str());
  if (avfilter_graph_create_filter(&g.src, avfilter_get_by_name("abuffer"), "in", args, nullptr,
                                   g.graph.get()) < 0 ||
      avfilter_graph_create_filter(&g.sink, avfilter_get_by_name("abuffersink"), "out", nullptr,
                                   nullptr, g.graph.get()) < 0 ||
      !linkAndConfigure(g.graph.get(), g.src, g.sink, chain, nullptr)) {
    return {};
  }
  return g;
}

Graph buildUploadGraph(int width, int height, AVBufferRef* device) {
  Graph g;
  g.graph.reset(avfilter_graph_alloc());
  if (!g.graph || !device) return {};
  char args[160];
  std::snprintf(args, sizeof args, "video_size=%dx%d:pix_fmt=%d:time_base=1/%d:pixel_aspect=1/1",
                width, height, AV_PIX_FMT_NV12, 90000);
  if (avfilter_graph_create_filter(&g.src, avfilter_get_by_name("buffer"), "uin", args, nullptr,
                                   g.graph.get()) < 0 ||
      avfilter_graph_create_filter(&g.sink, avfilter_get_by_name("buffersink"), "uout", nullptr,
                                   nullptr, g.graph.get()) < 0 ||
      !linkAndConfigure(g.graph.get(), g.src, g.sink, "hwupload", device)) {
    return {};
  }
  return g;
}

}  // namespace media::exporter
