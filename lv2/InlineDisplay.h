// Ardour's inline display, the small picture a host draws under a plug-in's name in its mixer
// strip. The host asks extension_data for the interface and calls render from its GUI thread; the
// plug-in may be offered queue_draw, which it calls from run when its picture should change.
// Pixels are 32-bit native-endian ARGB, alpha premultiplied, rows stride bytes apart.
#pragma once

#include <lv2/core/lv2.h>

#include <cstdint>

namespace VAZiro
{

constexpr const char* kInlineDisplayInterfaceUri = "http://harrisonconsoles.com/lv2/inlinedisplay#interface";
constexpr const char* kInlineDisplayQueueDrawUri = "http://harrisonconsoles.com/lv2/inlinedisplay#queue_draw";

struct InlineDisplayImageSurface
{
    unsigned char* data;
    int width;
    int height;
    int stride;  // bytes
};

struct InlineDisplayInterface
{
    // A picture at most width wide and maxHeight high, owned by the plug-in until the next call.
    InlineDisplayImageSurface* (*render)(LV2_Handle instance, std::uint32_t width, std::uint32_t maxHeight);
};

// The data of the queue_draw feature.
struct InlineDisplayQueueDraw
{
    void* handle;
    void (*queue_draw)(void* handle);
};

}  // namespace VAZiro
