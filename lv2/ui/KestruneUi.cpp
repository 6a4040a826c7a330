// The editor as an LV2 UI of class ui:X11UI: an Xlib window, inside the host's when it gives one,
// drawn with cairo. It talks to the plug-in through its ports only: values arrive in port_event,
// changes leave through the host's write function. Every call comes from the host's UI thread;
// events are read and the window redrawn in idle, at most kFramesPerSecond times a second and only
// when something changed.
#include "EditorControls.h"
#include "EditorDrawing.h"
#include "EditorLayout.h"
#include "EditorState.h"
#include "KestruneLv2Ports.h"
#include "KestruneLv2Ui.h"

#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/options/options.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include <cairo-xlib.h>
#include <cairo.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>

namespace VAZiro
{
namespace
{

constexpr double kFramesPerSecond = 30.0;
constexpr unsigned long kDoubleClickMilliseconds = 400;

class KestruneEditor
{
public:
    KestruneEditor(Display* display, LV2UI_Write_Function write, LV2UI_Controller controller)
        : m_display(display), m_write(write), m_controller(controller), m_state(freshEditorState())
    {
    }

    ~KestruneEditor()
    {
        if (m_still != nullptr)
            cairo_surface_destroy(m_still);
        if (m_surface != nullptr)
        {
            // cairo keeps what it knows of the display until told it is finished with it; the
            // connection is ours and closes below, so its memory would stay behind in the host.
            cairo_device_t* device = cairo_device_reference(cairo_surface_get_device(m_surface));
            cairo_surface_destroy(m_surface);
            cairo_device_finish(device);
            cairo_device_destroy(device);
        }
        if (m_window != 0)
            XDestroyWindow(m_display, m_window);
        XCloseDisplay(m_display);
    }

    KestruneEditor(const KestruneEditor&) = delete;
    KestruneEditor& operator=(const KestruneEditor&) = delete;

    // Reads what the host offers; returns the window, or 0 when it cannot be made.
    Window open(const LV2_Feature* const* features)
    {
        Window parent = 0;
        const LV2_Options_Option* options = nullptr;
        LV2_URID_Map* map = nullptr;
        for (int i = 0; features != nullptr && features[i] != nullptr; i++)
        {
            const char* uri = features[i]->URI;
            void* data = features[i]->data;
            if (std::strcmp(uri, LV2_UI__parent) == 0)
                parent = static_cast<Window>(reinterpret_cast<std::uintptr_t>(data));
            else if (std::strcmp(uri, LV2_UI__resize) == 0)
                m_hostResize = static_cast<const LV2UI_Resize*>(data);
            else if (std::strcmp(uri, LV2_UI__touch) == 0)
                m_touch = static_cast<const LV2UI_Touch*>(data);
            else if (std::strcmp(uri, LV2_OPTIONS__options) == 0)
                options = static_cast<const LV2_Options_Option*>(data);
            else if (std::strcmp(uri, LV2_URID__map) == 0)
                map = static_cast<LV2_URID_Map*>(data);
        }
        if (options != nullptr && map != nullptr)
            m_scale = scaleFactor(options, map);

        const int screen = DefaultScreen(m_display);
        m_topLevel = parent == 0;
        if (m_topLevel)
            parent = RootWindow(m_display, screen);
        const int width = static_cast<int>(std::lround(kEditorWidth * m_scale));
        const int height = static_cast<int>(std::lround(kEditorHeight * m_scale));
        XSetWindowAttributes attributes{};
        attributes.background_pixel = BlackPixel(m_display, screen);
        attributes.event_mask = ExposureMask | StructureNotifyMask | ButtonPressMask | ButtonReleaseMask |
                                PointerMotionMask;
        m_window = XCreateWindow(m_display, parent, 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height),
                                 0, CopyFromParent, InputOutput, CopyFromParent, CWBackPixel | CWEventMask,
                                 &attributes);
        if (m_window == 0)
            return 0;

        XSizeHints* hints = XAllocSizeHints();
        if (hints != nullptr)
        {
            hints->flags = PMinSize | PBaseSize;
            hints->min_width = static_cast<int>(std::lround(kEditorMinimumWidth * m_scale));
            hints->min_height = static_cast<int>(std::lround(kEditorMinimumHeight * m_scale));
            hints->base_width = width;
            hints->base_height = height;
            XSetWMNormalHints(m_display, m_window, hints);
            XFree(hints);
        }
        XStoreName(m_display, m_window, "Kestrune");
        XClassHint classHint{const_cast<char*>("kestrune"), const_cast<char*>("KestruneEditor")};
        XSetClassHint(m_display, m_window, &classHint);
        if (m_topLevel)
        {
            m_deleteWindow = XInternAtom(m_display, "WM_DELETE_WINDOW", False);
            XSetWMProtocols(m_display, m_window, &m_deleteWindow, 1);
        }

        m_surface = cairo_xlib_surface_create(m_display, m_window, DefaultVisual(m_display, screen), width, height);
        resized(width, height);
        XMapRaised(m_display, m_window);
        XFlush(m_display);
        if (m_hostResize != nullptr)
            m_hostResize->ui_resize(m_hostResize->handle, width, height);
        return m_window;
    }

    void portEvent(std::uint32_t port, std::uint32_t size, std::uint32_t format, const void* buffer)
    {
        if (format != 0 || size != sizeof(float) || buffer == nullptr)
            return;
        float value;
        std::memcpy(&value, buffer, sizeof value);
        // The host echoes what a drag writes; the knob under the pointer follows the pointer.
        if (m_dragKnob >= 0 && port == controlPortOf(m_dragKnob))
            return;
        const bool changed = setPortValue(m_state, port, value, now());
        m_dirty = changed || m_dirty;
        if (changed && parameterOfPort(port) >= 0)
            m_stillStale = true;
    }

    // Returns non-zero once a top-level window was closed.
    int idle()
    {
        while (XPending(m_display) > 0)
        {
            XEvent event;
            XNextEvent(m_display, &event);
            handle(event);
        }
        const double time = now();
        m_dirty = advanceTime(m_state, time) || m_dirty;
        if (m_dirty && time - m_lastDraw >= 1.0 / kFramesPerSecond)
        {
            draw();
            m_lastDraw = time;
        }
        return m_closed ? 1 : 0;
    }

    int resizeTo(int width, int height)
    {
        if (width <= 0 || height <= 0)
            return 1;
        XResizeWindow(m_display, m_window, static_cast<unsigned>(width), static_cast<unsigned>(height));
        XFlush(m_display);
        return 0;
    }

private:
    static double scaleFactor(const LV2_Options_Option* options, LV2_URID_Map* map)
    {
        const LV2_URID key = map->map(map->handle, LV2_UI__scaleFactor);
        const LV2_URID floatType = map->map(map->handle, LV2_ATOM__Float);
        for (const LV2_Options_Option* option = options; option->key != 0 || option->value != nullptr; option++)
        {
            if (option->key == key && option->type == floatType && option->size == sizeof(float) &&
                option->value != nullptr)
            {
                float value;
                std::memcpy(&value, option->value, sizeof value);
                if (std::isfinite(value))
                    return std::clamp(static_cast<double>(value), 0.5, 4.0);
            }
        }
        return 1.0;
    }

    double now() const
    {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    }

    void resized(int width, int height)
    {
        m_width = width;
        m_height = height;
        cairo_xlib_surface_set_size(m_surface, width, height);
        m_layout = layoutEditor(width, height, m_scale);
        m_dirty = true;
        m_wholeWindow = true;
        if (m_still != nullptr)
            cairo_surface_destroy(m_still);
        m_still = nullptr;
    }

    void draw()
    {
        // The still layer is drawn again only when a control or the size changed; its texts are
        // most of the cost of a frame.
        if (m_still == nullptr)
        {
            m_still = cairo_surface_create_similar(m_surface, CAIRO_CONTENT_COLOR, m_width, m_height);
            m_stillStale = true;
        }
        if (m_stillStale)
        {
            cairo_t* still = cairo_create(m_still);
            drawEditorStill(still, m_state, m_layout);
            cairo_destroy(still);
            m_stillStale = false;
            m_wholeWindow = true;
        }
        cairo_t* cr = cairo_create(m_surface);
        // Between changes of the still layer only the live parts change on screen.
        if (!m_wholeWindow)
        {
            const Rect& curve = m_layout.curve;
            const Rect& firstMeter = m_layout.meters[kMeterReduction];
            const Rect& lastMeter = m_layout.meters[kMeterOutput];
            const Rect& lanes = m_layout.levelLane;
            cairo_rectangle(cr, curve.x, curve.y, curve.width, curve.height);
            cairo_rectangle(cr, firstMeter.x, firstMeter.y, lastMeter.right() - firstMeter.x, firstMeter.height);
            cairo_rectangle(cr, lanes.x, lanes.y, lanes.width, m_layout.reductionLane.bottom() - lanes.y);
            cairo_clip(cr);
        }
        m_wholeWindow = false;
        drawEditorFrame(cr, m_still, m_state, m_layout);
        cairo_destroy(cr);
        cairo_surface_flush(m_surface);
        XFlush(m_display);
        m_dirty = false;
    }

    void handle(const XEvent& event)
    {
        switch (event.type)
        {
        case Expose:
            m_dirty = true;
            m_wholeWindow = true;
            // Drawn at once: the window is empty until then.
            m_lastDraw = -1.0;
            break;
        case ConfigureNotify:
            if (event.xconfigure.width != m_width || event.xconfigure.height != m_height)
                resized(event.xconfigure.width, event.xconfigure.height);
            break;
        case ButtonPress:
            pressed(event.xbutton);
            break;
        case ButtonRelease:
            if (event.xbutton.button == Button1)
                endDrag();
            break;
        case MotionNotify:
            moved(event.xmotion);
            break;
        case ClientMessage:
            if (m_topLevel && static_cast<Atom>(event.xclient.data.l[0]) == m_deleteWindow)
                m_closed = true;
            break;
        default:
            break;
        }
    }

    void pressed(const XButtonEvent& button)
    {
        const int knob = knobAt(m_layout, button.x, button.y);
        if (knob < 0)
            return;
        const bool fine = (button.state & ShiftMask) != 0;
        const float value = m_state.controls[knob];
        if (button.button == Button4 || button.button == Button5)
        {
            change(knob, wheelStep(knob, value, button.button == Button4 ? 1 : -1, fine), true);
            return;
        }
        if (button.button != Button1)
            return;
        if (kParameterInfo[knob].kind == ParameterKind::Switch)
        {
            change(knob, toggled(value), true);
            return;
        }
        const bool doubleClick = knob == m_lastClickKnob && button.time - m_lastClickTime < kDoubleClickMilliseconds;
        m_lastClickKnob = knob;
        m_lastClickTime = button.time;
        if (doubleClick)
        {
            endDrag();
            m_lastClickKnob = -1;
            change(knob, defaultEngineering(knob), true);
            return;
        }
        m_dragKnob = knob;
        m_dragY = button.y;
        m_dragPosition = knobPosition(knob, value);
        touch(knob, true);
    }

    void moved(const XMotionEvent& motion)
    {
        if (m_dragKnob < 0)
            return;
        // Only the latest position of a burst matters.
        XEvent later;
        XMotionEvent latest = motion;
        while (XCheckTypedWindowEvent(m_display, m_window, MotionNotify, &later))
            latest = later.xmotion;
        const double factor = (latest.state & ShiftMask) != 0 ? kFineFactor : 1.0;
        m_dragPosition += (m_dragY - latest.y) / (kKnobTravelPixels * m_scale) * factor;
        m_dragPosition = std::clamp(m_dragPosition, 0.0, 1.0);
        // A press after a drag starts a new drag, however soon it follows.
        if (latest.y != m_dragY)
            m_lastClickKnob = -1;
        m_dragY = latest.y;
        change(m_dragKnob, knobValue(m_dragKnob, m_dragPosition), false);
    }

    void endDrag()
    {
        if (m_dragKnob < 0)
            return;
        touch(m_dragKnob, false);
        m_dragKnob = -1;
    }

    // Sends a knob's new value to the host; a single step outside a drag is announced as a touch
    // of its own, so automation recording sees it too.
    void change(int knob, float value, bool single)
    {
        if (value == m_state.controls[knob])
            return;
        m_state.controls[knob] = value;
        m_dirty = true;
        m_stillStale = true;
        if (single)
            touch(knob, true);
        m_write(m_controller, controlPortOf(knob), sizeof value, 0, &value);
        if (single)
            touch(knob, false);
    }

    void touch(int knob, bool grabbed)
    {
        if (m_touch != nullptr)
            m_touch->touch(m_touch->handle, controlPortOf(knob), grabbed);
    }

    Display* m_display;
    LV2UI_Write_Function m_write;
    LV2UI_Controller m_controller;
    const LV2UI_Resize* m_hostResize = nullptr;
    const LV2UI_Touch* m_touch = nullptr;
    Window m_window = 0;
    Atom m_deleteWindow = 0;
    bool m_topLevel = false;
    bool m_closed = false;
    cairo_surface_t* m_surface = nullptr;
    cairo_surface_t* m_still = nullptr;  // the still layer, in the window's format
    bool m_stillStale = true;
    bool m_wholeWindow = true;  // the next frame paints everything, not just the live parts
    double m_scale = 1.0;
    int m_width = 0, m_height = 0;

    EditorState m_state;
    EditorLayout m_layout{};
    bool m_dirty = true;
    const std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
    double m_lastDraw = -1.0;  // s

    int m_dragKnob = -1;
    int m_dragY = 0;
    double m_dragPosition = 0.0;
    int m_lastClickKnob = -1;
    Time m_lastClickTime = 0;
};

LV2UI_Handle instantiate(const LV2UI_Descriptor*, const char* pluginUri, const char*, LV2UI_Write_Function write,
                         LV2UI_Controller controller, LV2UI_Widget* widget, const LV2_Feature* const* features)
{
    if (pluginUri == nullptr || std::strcmp(pluginUri, kLv2PluginUri) != 0 || write == nullptr || widget == nullptr)
        return nullptr;
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return nullptr;
    auto* editor = new (std::nothrow) KestruneEditor(display, write, controller);
    if (editor == nullptr)
    {
        XCloseDisplay(display);
        return nullptr;
    }
    const Window window = editor->open(features);
    if (window == 0)
    {
        delete editor;
        return nullptr;
    }
    *widget = reinterpret_cast<LV2UI_Widget>(static_cast<std::uintptr_t>(window));
    return editor;
}

void cleanup(LV2UI_Handle handle)
{
    delete static_cast<KestruneEditor*>(handle);
}

void portEvent(LV2UI_Handle handle, std::uint32_t port, std::uint32_t size, std::uint32_t format, const void* buffer)
{
    static_cast<KestruneEditor*>(handle)->portEvent(port, size, format, buffer);
}

int idle(LV2UI_Handle handle)
{
    return static_cast<KestruneEditor*>(handle)->idle();
}

int resize(LV2UI_Feature_Handle handle, int width, int height)
{
    return static_cast<KestruneEditor*>(handle)->resizeTo(width, height);
}

const void* extensionData(const char* uri)
{
    static const LV2UI_Idle_Interface idleInterface = {idle};
    static const LV2UI_Resize resizeInterface = {nullptr, resize};
    if (std::strcmp(uri, LV2_UI__idleInterface) == 0)
        return &idleInterface;
    if (std::strcmp(uri, LV2_UI__resize) == 0)
        return &resizeInterface;
    return nullptr;
}

const LV2UI_Descriptor kDescriptor = {kLv2UiUri, instantiate, cleanup, portEvent, extensionData};

}  // namespace
}  // namespace VAZiro

LV2_SYMBOL_EXPORT const LV2UI_Descriptor* lv2ui_descriptor(std::uint32_t index)
{
    return index == 0 ? &VAZiro::kDescriptor : nullptr;
}
