// The editor's binary as a host loads it: dlopen, lv2ui_descriptor, instantiate with the host's
// features, port_event and idle, on an X server of its own (Xvfb, started here). Pointer events
// sent to its window must reach the host as writes of engineering values to the right ports,
// wrapped in touch begin and end; values the host sends must move the knobs. Expected values come
// from the controls' published ranges, not from the editor's code.
#include "EditorLayout.h"

// GoogleTest before Xlib, whose macros (None, Bool) would rename GoogleTest's own names.
#include <gtest/gtest.h>

#include <lv2/atom/atom.h>
#include <lv2/options/options.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dlfcn.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace
{

constexpr const char* kPluginUri = "urn:brisk-lantern:kestrune";
// Port indices of the controls: attack, release, ratio, use SC, threshold, makeup.
constexpr std::uint32_t kAttackPort = 6, kRatioPort = 8, kSwitchPort = 9, kThresholdPort = 10;

// Xvfb on the first free display, for the whole suite.
class XServer
{
public:
    bool start()
    {
        int fds[2];
        if (pipe(fds) != 0)
            return false;
        m_pid = fork();
        if (m_pid == 0)
        {
            // The server ends with the test, even one that aborts.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1600x1000x24", "-nolisten",
                  "tcp", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        std::string number;
        char c;
        while (read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        close(fds[0]);
        if (number.empty())
            return false;
        setenv("DISPLAY", (":" + number).c_str(), 1);
        return true;
    }

    void stop()
    {
        if (m_pid > 0)
        {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
            m_pid = 0;
        }
    }

private:
    pid_t m_pid = 0;
};

struct Write
{
    std::uint32_t port;
    float value;
};

struct Touch
{
    std::uint32_t port;
    bool grabbed;
};

// The host's side: what the editor wrote and touched, and a URID map for the options.
struct Host
{
    std::vector<Write> writes;
    std::vector<Touch> touches;
    std::vector<std::pair<int, int>> sizes;
    std::map<std::string, LV2_URID> urids;

    static void write(LV2UI_Controller controller, std::uint32_t port, std::uint32_t size, std::uint32_t format,
                      const void* buffer)
    {
        ASSERT_EQ(size, sizeof(float));
        ASSERT_EQ(format, 0u);
        float value;
        std::memcpy(&value, buffer, sizeof value);
        static_cast<Host*>(controller)->writes.push_back({port, value});
    }
    static void touch(LV2UI_Feature_Handle handle, std::uint32_t port, bool grabbed)
    {
        static_cast<Host*>(handle)->touches.push_back({port, grabbed});
    }
    static int resize(LV2UI_Feature_Handle handle, int width, int height)
    {
        static_cast<Host*>(handle)->sizes.emplace_back(width, height);
        return 0;
    }
    static LV2_URID map(LV2_URID_Map_Handle handle, const char* uri)
    {
        auto& urids = static_cast<Host*>(handle)->urids;
        const auto found = urids.find(uri);
        if (found != urids.end())
            return found->second;
        const LV2_URID id = static_cast<LV2_URID>(urids.size() + 1);
        urids[uri] = id;
        return id;
    }
};

class EditorHosting : public testing::Test
{
public:
    static void SetUpTestSuite()
    {
        s_server = new XServer;
        s_serverRunning = s_server->start();
        s_module = dlopen(KESTRUNE_UI_MODULE, RTLD_NOW | RTLD_LOCAL);
    }
    static void TearDownTestSuite()
    {
        if (s_module != nullptr)
            dlclose(s_module);
        s_server->stop();
        delete s_server;
    }

protected:
    void SetUp() override
    {
        ASSERT_TRUE(s_serverRunning) << "Xvfb did not start (Debian: apt-get install xvfb)";
        ASSERT_NE(s_module, nullptr) << dlerror();
        const auto entry = reinterpret_cast<LV2UI_DescriptorFunction>(dlsym(s_module, "lv2ui_descriptor"));
        ASSERT_NE(entry, nullptr);
        m_descriptor = entry(0);
        ASSERT_NE(m_descriptor, nullptr);
        EXPECT_EQ(entry(1), nullptr);
        EXPECT_STREQ(m_descriptor->URI, "urn:brisk-lantern:kestrune#editor");
        m_display = XOpenDisplay(nullptr);
        ASSERT_NE(m_display, nullptr);
    }

    void TearDown() override
    {
        if (m_handle != nullptr)
            m_descriptor->cleanup(m_handle);
        if (m_display != nullptr)
            XCloseDisplay(m_display);
    }

    // Opens the editor as a top-level window with touch and resize, and the scale factor if given.
    void open(float scale = 0.0f)
    {
        m_map = {&m_host, Host::map};
        m_touch = {&m_host, Host::touch};
        m_resize = {&m_host, Host::resize};
        const LV2_URID floatType = Host::map(&m_host, LV2_ATOM__Float);
        m_options[0] = {LV2_OPTIONS_INSTANCE, 0, Host::map(&m_host, LV2_UI__scaleFactor), sizeof(float), floatType,
                        &m_scale};
        m_options[1] = {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr};
        m_scale = scale;
        m_features = {{LV2_URID__map, &m_map}, {LV2_UI__touch, &m_touch}, {LV2_UI__resize, &m_resize},
                      {LV2_OPTIONS__options, m_options}, {LV2_UI__idleInterface, nullptr}};
        std::vector<const LV2_Feature*> features;
        for (std::size_t i = 0; i < m_features.size(); i++)
            if (scale > 0.0f || std::strcmp(m_features[i].URI, LV2_OPTIONS__options) != 0)
                features.push_back(&m_features[i]);
        features.push_back(nullptr);
        LV2UI_Widget widget = nullptr;
        m_handle = m_descriptor->instantiate(m_descriptor, kPluginUri, "/nowhere/", Host::write, &m_host, &widget,
                                             features.data());
        ASSERT_NE(m_handle, nullptr);
        m_window = static_cast<Window>(reinterpret_cast<std::uintptr_t>(widget));
        ASSERT_NE(m_window, 0u);
        const auto* idle = static_cast<const LV2UI_Idle_Interface*>(m_descriptor->extension_data(LV2_UI__idleInterface));
        ASSERT_NE(idle, nullptr);
        m_idle = idle->idle;
        settle();
    }

    // Lets the editor read what the server has for it.
    void settle()
    {
        XSync(m_display, False);
        for (int round = 0; round < 10; round++)
        {
            EXPECT_EQ(m_idle(m_handle), 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    void button(int type, unsigned button, int x, int y, unsigned state = 0, Time time = 1000)
    {
        XEvent event{};
        event.xbutton.type = type;
        event.xbutton.display = m_display;
        event.xbutton.window = m_window;
        event.xbutton.root = DefaultRootWindow(m_display);
        event.xbutton.x = x;
        event.xbutton.y = y;
        event.xbutton.button = button;
        event.xbutton.state = state;
        event.xbutton.time = time;
        event.xbutton.same_screen = True;
        XSendEvent(m_display, m_window, False, type == ButtonPress ? ButtonPressMask : ButtonReleaseMask, &event);
        settle();
    }

    void motion(int x, int y, unsigned state)
    {
        XEvent event{};
        event.xmotion.type = MotionNotify;
        event.xmotion.display = m_display;
        event.xmotion.window = m_window;
        event.xmotion.root = DefaultRootWindow(m_display);
        event.xmotion.x = x;
        event.xmotion.y = y;
        event.xmotion.state = state;
        event.xmotion.same_screen = True;
        XSendEvent(m_display, m_window, False, PointerMotionMask, &event);
        settle();
    }

    void hostSends(std::uint32_t port, float value)
    {
        m_descriptor->port_event(m_handle, port, sizeof value, 0, &value);
    }

    // Centre of the knob of a control, at scale 1 in a 640 x 360 window.
    static std::pair<int, int> knob(std::uint32_t port)
    {
        const VAZiro::EditorLayout layout = VAZiro::layoutEditor(640, 360, 1.0);
        const VAZiro::KnobLayout& k = layout.knobs[port - 6];
        return {static_cast<int>(k.centreX), static_cast<int>(k.centreY)};
    }

    void drag(std::uint32_t port, int pixels, unsigned modifiers = 0)
    {
        const auto [x, y] = knob(port);
        button(ButtonPress, Button1, x, y, modifiers);
        for (int moved = 10; moved <= pixels; moved += 10)
            motion(x, y + moved, Button1Mask | modifiers);
        button(ButtonRelease, Button1, x, y + pixels, Button1Mask | modifiers);
    }

    Host m_host;
    Display* m_display = nullptr;
    const LV2UI_Descriptor* m_descriptor = nullptr;
    LV2UI_Handle m_handle = nullptr;
    Window m_window = 0;
    int (*m_idle)(LV2UI_Handle) = nullptr;
    LV2_URID_Map m_map{};
    LV2UI_Touch m_touch{};
    LV2UI_Resize m_resize{};
    LV2_Options_Option m_options[2]{};
    float m_scale = 0.0f;
    std::vector<LV2_Feature> m_features;

    static XServer* s_server;
    static bool s_serverRunning;
    static void* s_module;
};

XServer* EditorHosting::s_server = nullptr;
bool EditorHosting::s_serverRunning = false;
void* EditorHosting::s_module = nullptr;

TEST_F(EditorHosting, OpensAtItsSizeTimesTheHostsScaleFactor)
{
    for (const float scale : {0.0f, 2.0f})
    {
        SCOPED_TRACE(testing::Message() << "scale factor " << scale);
        m_host = Host();
        open(scale);
        const int factor = scale > 0.0f ? 2 : 1;
        XWindowAttributes attributes;
        ASSERT_NE(XGetWindowAttributes(m_display, m_window, &attributes), 0);
        EXPECT_EQ(attributes.width, 640 * factor);
        EXPECT_EQ(attributes.height, 360 * factor);
        ASSERT_EQ(m_host.sizes.size(), 1u);
        EXPECT_EQ(m_host.sizes[0], std::make_pair(640 * factor, 360 * factor));
        XSizeHints hints{};
        long supplied = 0;
        ASSERT_NE(XGetWMNormalHints(m_display, m_window, &hints, &supplied), 0);
        EXPECT_EQ(hints.min_width, 400 * factor);
        EXPECT_EQ(hints.min_height, 240 * factor);
        m_descriptor->cleanup(m_handle);
        m_handle = nullptr;
    }
    // Another plug-in's URI is refused.
    LV2UI_Widget widget = nullptr;
    const LV2_Feature* none[] = {nullptr};
    EXPECT_EQ(m_descriptor->instantiate(m_descriptor, "urn:someone:else", "/", Host::write, &m_host, &widget, none),
              nullptr);
}

TEST_F(EditorHosting, DragsWriteEngineeringValuesBetweenTouchBeginAndEnd)
{
    open();
    // 40 pixels down are a fifth of the threshold's travel from 0 dB: 120 dB / 5 = 24 dB lower.
    drag(kThresholdPort, 40);
    ASSERT_FALSE(m_host.writes.empty());
    for (const Write& write : m_host.writes)
        EXPECT_EQ(write.port, kThresholdPort);
    EXPECT_NEAR(m_host.writes.back().value, -24.0f, 1e-4);
    ASSERT_EQ(m_host.touches.size(), 2u);
    EXPECT_EQ(m_host.touches[0].port, kThresholdPort);
    EXPECT_TRUE(m_host.touches[0].grabbed);
    EXPECT_EQ(m_host.touches[1].port, kThresholdPort);
    EXPECT_FALSE(m_host.touches[1].grabbed);

    // With Shift ten times finer: 40 pixels are 2.4 dB. This drag's press follows the last one at
    // once (the same time stamp), yet a drag in between means it is no double click.
    m_host.writes.clear();
    drag(kThresholdPort, 40, ShiftMask);
    ASSERT_FALSE(m_host.writes.empty());
    EXPECT_NEAR(m_host.writes.back().value, -26.4f, 1e-3);

    // Dragging past the end stops there: ratio 1..10 over 200 pixels, 300 pixels up.
    m_host.writes.clear();
    const auto [x, y] = knob(kRatioPort);
    button(ButtonPress, Button1, x, y, 0, 5000);
    motion(x, y - 300, Button1Mask);
    button(ButtonRelease, Button1, x, y - 300, Button1Mask, 5100);
    ASSERT_FALSE(m_host.writes.empty());
    EXPECT_EQ(m_host.writes.back().port, kRatioPort);
    EXPECT_EQ(m_host.writes.back().value, 10.0f);
}

TEST_F(EditorHosting, WheelStepsFollowTheHostsValuesAndDoubleClickRestoresTheDefault)
{
    open();
    // The host sets -30 dB (automation, a preset): a notch up from there is -29.5 dB.
    hostSends(kThresholdPort, -30.0f);
    // Neither a value of the wrong size nor one in another format is taken.
    const double wide = -90.0;
    m_descriptor->port_event(m_handle, kThresholdPort, sizeof wide, 0, &wide);
    const float other = -90.0f;
    m_descriptor->port_event(m_handle, kThresholdPort, sizeof other, 1, &other);
    const auto [x, y] = knob(kThresholdPort);
    button(ButtonPress, Button4, x, y);
    button(ButtonRelease, Button4, x, y);
    ASSERT_EQ(m_host.writes.size(), 1u);
    EXPECT_EQ(m_host.writes[0].port, kThresholdPort);
    EXPECT_FLOAT_EQ(m_host.writes[0].value, -29.5f);
    // A single notch is a touch of its own.
    ASSERT_EQ(m_host.touches.size(), 2u);
    EXPECT_TRUE(m_host.touches[0].grabbed);
    EXPECT_FALSE(m_host.touches[1].grabbed);
    button(ButtonPress, Button5, x, y, ShiftMask);
    EXPECT_FLOAT_EQ(m_host.writes.back().value, -29.6f);

    // Attack at 50 ms from the host; a double click brings back its default of 10 ms.
    hostSends(kAttackPort, 50.0f);
    m_host.writes.clear();
    const auto [ax, ay] = knob(kAttackPort);
    button(ButtonPress, Button1, ax, ay, 0, 20000);
    button(ButtonRelease, Button1, ax, ay, Button1Mask, 20050);
    button(ButtonPress, Button1, ax, ay, 0, 20200);
    button(ButtonRelease, Button1, ax, ay, Button1Mask, 20250);
    ASSERT_EQ(m_host.writes.size(), 1u);
    EXPECT_EQ(m_host.writes[0].port, kAttackPort);
    EXPECT_FLOAT_EQ(m_host.writes[0].value, 10.0f);
    // Two clicks further apart than a double click are two clicks.
    hostSends(kAttackPort, 50.0f);
    m_host.writes.clear();
    button(ButtonPress, Button1, ax, ay, 0, 30000);
    button(ButtonRelease, Button1, ax, ay, Button1Mask, 30050);
    button(ButtonPress, Button1, ax, ay, 0, 31000);
    button(ButtonRelease, Button1, ax, ay, Button1Mask, 31050);
    EXPECT_TRUE(m_host.writes.empty());
}

TEST_F(EditorHosting, SwitchFlipsOnClickAndTheBackgroundChangesNothing)
{
    open();
    const auto [x, y] = knob(kSwitchPort);
    button(ButtonPress, Button1, x, y, 0, 1000);
    button(ButtonRelease, Button1, x, y, Button1Mask, 1010);
    button(ButtonPress, Button1, x, y, 0, 3000);
    button(ButtonRelease, Button1, x, y, Button1Mask, 3010);
    ASSERT_EQ(m_host.writes.size(), 2u);
    EXPECT_EQ(m_host.writes[0].port, kSwitchPort);
    EXPECT_EQ(m_host.writes[0].value, 1.0f);
    EXPECT_EQ(m_host.writes[1].value, 0.0f);

    m_host.writes.clear();
    m_host.touches.clear();
    const VAZiro::EditorLayout layout = VAZiro::layoutEditor(640, 360, 1.0);
    for (const auto& [px, py] : {std::make_pair(layout.curve.x + 20, layout.curve.y + 20), std::make_pair(5.0, 5.0),
                                 std::make_pair(layout.levelLane.x + 10, layout.levelLane.y + 10)})
    {
        button(ButtonPress, Button1, static_cast<int>(px), static_cast<int>(py));
        motion(static_cast<int>(px), static_cast<int>(py) + 50, Button1Mask);
        button(ButtonRelease, Button1, static_cast<int>(px), static_cast<int>(py) + 50, Button1Mask);
        button(ButtonPress, Button4, static_cast<int>(px), static_cast<int>(py));
    }
    EXPECT_TRUE(m_host.writes.empty());
    EXPECT_TRUE(m_host.touches.empty());
}

}  // namespace
