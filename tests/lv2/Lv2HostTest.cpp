// A test host on liblilv: discovers kestrune.lv2 in the build tree through LV2_PATH as any LV2 host
// would, reads its description port by port, lists and applies its presets, and runs blocks beside
// the VST 2.4 module (loaded through host/) and the reference model of tests/support. The expected
// ports, ranges and presets are written out here as the product defines them, not read from the
// parameter table the bundle is generated from; only the port indices come from the plug-in's own
// layout, so a port that moves shows as a wrong symbol at its index.
#include "InlineDisplay.h"
#include "KestruneLv2Ports.h"
#include "ReferenceModel.h"
#include "TestSeed.h"
#include "VstHost.h"

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/urid/urid.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace
{

constexpr const char* kUri = "urn:brisk-lantern:kestrune";
constexpr const char* kLv2 = "http://lv2plug.in/ns/lv2core#";
constexpr const char* kUnits = "http://lv2plug.in/ns/extensions/units#";
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr double kPi = 3.14159265358979323846;

std::string lv2(const char* name)
{
    return std::string(kLv2) + name;
}

// --- the world and the plug-in as lilv sees them ----------------------------------------------

class World
{
public:
    World() : m_world(lilv_world_new())
    {
        lilv_world_load_all(m_world);
        LilvNode* uri = lilv_new_uri(m_world, kUri);
        m_plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(m_world), uri);
        lilv_node_free(uri);
    }
    ~World()
    {
        for (LilvNode* node : m_nodes)
            lilv_node_free(node);
        lilv_world_free(m_world);
    }
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    LilvWorld* world() const { return m_world; }
    const LilvPlugin* plugin() const { return m_plugin; }

    // A URI node that lives as long as the world.
    const LilvNode* node(const std::string& uri)
    {
        m_nodes.push_back(lilv_new_uri(m_world, uri.c_str()));
        return m_nodes.back();
    }

private:
    LilvWorld* m_world;
    const LilvPlugin* m_plugin = nullptr;
    std::vector<LilvNode*> m_nodes;
};

// One world for the whole program: lilv reads the bundle once.
World& world()
{
    static World instance;
    return instance;
}

const LilvPlugin* requirePlugin()
{
    const LilvPlugin* plugin = world().plugin();
    if (plugin == nullptr)
        ADD_FAILURE() << kUri << " not found on LV2_PATH=" << (std::getenv("LV2_PATH") ? std::getenv("LV2_PATH") : "");
    return plugin;
}

std::string takeString(LilvNode* node)
{
    std::string text = node != nullptr ? lilv_node_as_string(node) : "<none>";
    lilv_node_free(node);
    return text;
}

// The URIDs a host gives lilv to read presets.
class UridMap
{
public:
    UridMap() : m_map{this, &UridMap::map} {}
    LV2_URID_Map* get() { return &m_map; }
    LV2_URID id(const char* uri) { return map(this, uri); }

private:
    static LV2_URID map(LV2_URID_Map_Handle handle, const char* uri)
    {
        auto& uris = static_cast<UridMap*>(handle)->m_uris;
        const auto found = std::find(uris.begin(), uris.end(), uri);
        if (found != uris.end())
            return static_cast<LV2_URID>(found - uris.begin() + 1);
        uris.emplace_back(uri);
        return static_cast<LV2_URID>(uris.size());
    }
    std::vector<std::string> m_uris;
    LV2_URID_Map m_map;
};

// --- the product's description, restated -------------------------------------------------------

enum class Kind { AudioIn, AudioOut, ControlIn, ControlOut };

struct ExpectedPort
{
    std::uint32_t index;
    const char* symbol;
    Kind kind;
    bool sidechain;
    bool toggled;
    const char* unit;  // units: extension name, "" for none
    float minimum, maximum, defaultValue;  // control inputs; the meter has no default
};

using namespace VAZiro;
const ExpectedPort kPorts[] = {
    {kPortInLeft, "in_l", Kind::AudioIn, false, false, "", 0, 0, 0},
    {kPortInRight, "in_r", Kind::AudioIn, false, false, "", 0, 0, 0},
    {kPortSideLeft, "sc_l", Kind::AudioIn, true, false, "", 0, 0, 0},
    {kPortSideRight, "sc_r", Kind::AudioIn, true, false, "", 0, 0, 0},
    {kPortOutLeft, "out_l", Kind::AudioOut, false, false, "", 0, 0, 0},
    {kPortOutRight, "out_r", Kind::AudioOut, false, false, "", 0, 0, 0},
    {controlPortOf(kref::kAttack), "attack", Kind::ControlIn, false, false, "ms", 0.1f, 100.0f, 10.0f},
    {controlPortOf(kref::kRelease), "release", Kind::ControlIn, false, false, "ms", 0.1f, 500.0f, 100.0f},
    {controlPortOf(kref::kRatio), "ratio", Kind::ControlIn, false, false, "", 1.0f, 10.0f, 1.0f},
    {controlPortOf(kref::kUseSidechain), "use_sc", Kind::ControlIn, false, true, "", 0.0f, 1.0f, 0.0f},
    {controlPortOf(kref::kThreshold), "threshold", Kind::ControlIn, false, false, "db", -120.0f, 0.0f, 0.0f},
    {controlPortOf(kref::kMakeup), "makeup", Kind::ControlIn, false, false, "db", -18.0f, 18.0f, 0.0f},
    {kPortGainReduction, "gain_reduction", Kind::ControlOut, false, false, "db", 0.0f, 120.0f, kNaN},
    {kPortKeyLevel, "key_level", Kind::ControlOut, false, false, "db", -120.0f, 24.0f, kNaN},
    {kPortInLevel, "in_level", Kind::ControlOut, false, false, "db", -120.0f, 24.0f, kNaN},
    {kPortOutLevel, "out_level", Kind::ControlOut, false, false, "db", -120.0f, 24.0f, kNaN},
};
constexpr int kControls = kref::kParameterCount;
// The meters' ports, in the order Lv2Instance keeps their values.
constexpr std::uint32_t kMeterPorts[] = {kPortGainReduction, kPortKeyLevel, kPortInLevel, kPortOutLevel};
enum Meter { kGainReductionMeter, kKeyLevelMeter, kInLevelMeter, kOutLevelMeter, kMeterCount };

// The expected port of a control, by parameter index.
const ExpectedPort& controlPort(int parameter)
{
    return *std::find_if(std::begin(kPorts), std::end(kPorts),
                         [&](const ExpectedPort& port) { return port.index == controlPortOf(parameter); });
}

// attack ms, release ms, ratio, use_sc, threshold dB, makeup dB
struct ExpectedPreset
{
    const char* label;
    std::array<float, kControls> values;
};
const ExpectedPreset kPresets[] = {
    {"Kick duck", {1.0f, 180.0f, 6.0f, 1.0f, -30.0f, 0.0f}},
    {"Vocal level", {10.0f, 150.0f, 3.0f, 0.0f, -18.0f, 3.0f}},
    {"Bus glue", {30.0f, 100.0f, 2.0f, 0.0f, -12.0f, 2.0f}},
};

// --- the bundle's description ---------------------------------------------------------------

TEST(Lv2Bundle, IsFoundInTheBuildTreeWithItsIdentity)
{
    const LilvPlugin* plugin = requirePlugin();
    ASSERT_NE(plugin, nullptr);
    World& w = world();

    char* bundle = lilv_file_uri_parse(lilv_node_as_uri(lilv_plugin_get_bundle_uri(plugin)), nullptr);
    EXPECT_EQ(std::string(bundle), std::string(KESTRUNE_LV2_BUNDLE) + "/");
    lilv_free(bundle);
    char* library = lilv_file_uri_parse(lilv_node_as_uri(lilv_plugin_get_library_uri(plugin)), nullptr);
    EXPECT_EQ(std::string(library), std::string(KESTRUNE_LV2_BUNDLE) + "/kestrune.so");
    lilv_free(library);

    EXPECT_EQ(takeString(lilv_plugin_get_name(plugin)), "Kestrune");
    EXPECT_EQ(takeString(lilv_plugin_get_author_name(plugin)), "Brisk Lantern");

    LilvNodes* types = lilv_plugin_get_value(plugin, w.node("http://www.w3.org/1999/02/22-rdf-syntax-ns#type"));
    EXPECT_TRUE(lilv_nodes_contains(types, w.node(lv2("CompressorPlugin"))));
    lilv_nodes_free(types);

    LilvNodes* required = lilv_plugin_get_required_features(plugin);
    EXPECT_EQ(lilv_nodes_size(required), 0u) << "a host without any feature must be able to run it";
    lilv_nodes_free(required);
    EXPECT_TRUE(lilv_plugin_has_feature(plugin, w.node(lv2("hardRTCapable"))));
    EXPECT_FALSE(lilv_plugin_has_latency(plugin));
}

TEST(Lv2Bundle, PortsInOrderWithSymbolsRangesDefaultsUnitsAndProperties)
{
    const LilvPlugin* plugin = requirePlugin();
    ASSERT_NE(plugin, nullptr);
    World& w = world();
    ASSERT_EQ(lilv_plugin_get_num_ports(plugin), static_cast<std::uint32_t>(kPortCount));
    ASSERT_EQ(std::size(kPorts), static_cast<std::size_t>(kPortCount)) << "a port this test does not know";
    const LilvNode* unitPredicate = w.node(std::string(kUnits) + "unit");

    for (const ExpectedPort& expected : kPorts)
    {
        SCOPED_TRACE(std::string("port ") + std::to_string(expected.index) + " " + expected.symbol);
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, expected.index);
        ASSERT_NE(port, nullptr);
        EXPECT_STREQ(lilv_node_as_string(lilv_port_get_symbol(plugin, port)), expected.symbol);

        const bool audio = expected.kind == Kind::AudioIn || expected.kind == Kind::AudioOut;
        const bool input = expected.kind == Kind::AudioIn || expected.kind == Kind::ControlIn;
        EXPECT_EQ(lilv_port_is_a(plugin, port, w.node(lv2("AudioPort"))), audio);
        EXPECT_EQ(lilv_port_is_a(plugin, port, w.node(lv2("ControlPort"))), !audio);
        EXPECT_EQ(lilv_port_is_a(plugin, port, w.node(lv2("InputPort"))), input);
        EXPECT_EQ(lilv_port_is_a(plugin, port, w.node(lv2("OutputPort"))), !input);
        EXPECT_EQ(lilv_port_has_property(plugin, port, w.node(lv2("isSideChain"))), expected.sidechain);
        EXPECT_EQ(lilv_port_has_property(plugin, port, w.node(lv2("toggled"))), expected.toggled);
        EXPECT_FALSE(lilv_port_has_property(plugin, port, w.node(lv2("reportsLatency"))));

        LilvNode* unit = lilv_port_get(plugin, port, unitPredicate);
        if (expected.unit[0] == '\0')
            EXPECT_EQ(unit, nullptr) << "unexpected unit " << lilv_node_as_string(unit);
        else
            EXPECT_EQ(takeString(lilv_node_duplicate(unit)), std::string(kUnits) + expected.unit);
        lilv_node_free(unit);

        LilvNode* defaultValue = nullptr;
        LilvNode* minimum = nullptr;
        LilvNode* maximum = nullptr;
        lilv_port_get_range(plugin, port, &defaultValue, &minimum, &maximum);
        if (audio)
        {
            EXPECT_EQ(minimum, nullptr);
            EXPECT_EQ(maximum, nullptr);
            EXPECT_EQ(defaultValue, nullptr);
        }
        else
        {
            ASSERT_NE(minimum, nullptr);
            ASSERT_NE(maximum, nullptr);
            EXPECT_EQ(lilv_node_as_float(minimum), expected.minimum);
            EXPECT_EQ(lilv_node_as_float(maximum), expected.maximum);
            if (std::isnan(expected.defaultValue))
                EXPECT_EQ(defaultValue, nullptr);
            else if (defaultValue == nullptr)
                ADD_FAILURE() << "no default";
            else
                EXPECT_EQ(lilv_node_as_float(defaultValue), expected.defaultValue);
        }
        lilv_node_free(defaultValue);
        lilv_node_free(minimum);
        lilv_node_free(maximum);
    }
}

// Reads each preset the plug-in lists, as a host fills its preset menu: label and port values.
struct LoadedPreset
{
    std::string label;
    std::map<std::string, float> values;
};

std::vector<LoadedPreset> loadPresets(UridMap& urids)
{
    World& w = world();
    std::vector<LoadedPreset> loaded;
    LilvNodes* presets = lilv_plugin_get_related(w.plugin(), w.node("http://lv2plug.in/ns/ext/presets#Preset"));
    LILV_FOREACH (nodes, i, presets)
    {
        const LilvNode* preset = lilv_nodes_get(presets, i);
        EXPECT_GE(lilv_world_load_resource(w.world(), preset), 0) << lilv_node_as_uri(preset);
        LilvState* state = lilv_state_new_from_world(w.world(), urids.get(), preset);
        if (state == nullptr)
        {
            ADD_FAILURE() << "cannot read preset " << lilv_node_as_uri(preset);
            continue;
        }
        LoadedPreset entry;
        entry.label = lilv_state_get_label(state) ? lilv_state_get_label(state) : "";
        struct Sink
        {
            UridMap* urids;
            LoadedPreset* entry;
        } sink{&urids, &entry};
        lilv_state_emit_port_values(
            state,
            [](const char* symbol, void* user, const void* value, std::uint32_t size, std::uint32_t type) {
                auto* s = static_cast<Sink*>(user);
                float number = kNaN;
                if (type == s->urids->id(LV2_ATOM__Float) && size == sizeof(float))
                    std::memcpy(&number, value, sizeof number);
                else if (type == s->urids->id(LV2_ATOM__Double) && size == sizeof(double))
                    number = static_cast<float>(*static_cast<const double*>(value));
                else if (type == s->urids->id(LV2_ATOM__Int) && size == sizeof(std::int32_t))
                    number = static_cast<float>(*static_cast<const std::int32_t*>(value));
                s->entry->values[symbol] = number;
            },
            &sink);
        lilv_state_free(state);
        loaded.push_back(entry);
    }
    lilv_nodes_free(presets);
    return loaded;
}

TEST(Lv2Bundle, ListsEachPresetWithEveryControl)
{
    ASSERT_NE(requirePlugin(), nullptr);
    UridMap urids;
    const std::vector<LoadedPreset> loaded = loadPresets(urids);
    ASSERT_EQ(loaded.size(), sizeof kPresets / sizeof kPresets[0]);
    for (const ExpectedPreset& expected : kPresets)
    {
        SCOPED_TRACE(expected.label);
        const auto found = std::find_if(loaded.begin(), loaded.end(),
                                        [&](const LoadedPreset& p) { return p.label == expected.label; });
        ASSERT_NE(found, loaded.end()) << "preset not listed";
        EXPECT_EQ(found->values.size(), static_cast<std::size_t>(kControls)) << "a preset must set every control";
        for (int c = 0; c < kControls; c++)
        {
            const char* symbol = controlPort(c).symbol;
            const auto value = found->values.find(symbol);
            ASSERT_NE(value, found->values.end()) << symbol;
            EXPECT_EQ(value->second, expected.values[c]) << symbol;
        }
    }
}

// --- running the plug-in ------------------------------------------------------------------------

// One LV2 instance with its own port buffers.
class Lv2Instance
{
public:
    explicit Lv2Instance(double rate) : m_instance(lilv_plugin_instantiate(world().plugin(), rate, nullptr))
    {
        if (m_instance == nullptr)
            return;
        for (int c = 0; c < kControls; c++)
            lilv_instance_connect_port(m_instance, controlPortOf(c), &m_controls[c]);
        for (int m = 0; m < kMeterCount; m++)
            lilv_instance_connect_port(m_instance, kMeterPorts[m], &m_meters[m]);
    }
    ~Lv2Instance()
    {
        if (m_instance == nullptr)
            return;
        if (m_active)
            lilv_instance_deactivate(m_instance);
        lilv_instance_free(m_instance);
    }
    Lv2Instance(const Lv2Instance&) = delete;
    Lv2Instance& operator=(const Lv2Instance&) = delete;

    bool valid() const { return m_instance != nullptr; }
    void activate()
    {
        if (m_active)
            lilv_instance_deactivate(m_instance);
        lilv_instance_activate(m_instance);
        m_active = true;
    }
    float& control(int index) { return m_controls[index]; }
    float meter(Meter which = kGainReductionMeter) const { return m_meters[which]; }
    void setMeters(float value) { m_meters.fill(value); }

    // in: main L, R, side L, R; out: L, R. Buffers may be shared, as a host may do.
    void run(const float* const* in, float* const* out, std::uint32_t frames)
    {
        for (std::uint32_t c = 0; c < 4; c++)
            lilv_instance_connect_port(m_instance, c, const_cast<float*>(in[c]));
        lilv_instance_connect_port(m_instance, kPortOutLeft, out[0]);
        lilv_instance_connect_port(m_instance, kPortOutRight, out[1]);
        lilv_instance_run(m_instance, frames);
    }

private:
    LilvInstance* m_instance;
    bool m_active = false;
    std::array<float, kControls> m_controls{};
    std::array<float, kMeterCount> m_meters{kNaN, kNaN, kNaN, kNaN};
};

// The meter the model implies for one block: the largest reduction in dB of the lowest gain it
// applied, 0 for none, at most the port's maximum.
float expectedMeter(double lowestGain)
{
    const double reduction = -dynref::toDB(lowestGain);
    if (!(reduction > 0.0))
        return 0.0f;
    return reduction > 120.0 ? 120.0f : static_cast<float>(reduction);
}

// Stereo segments: tone bursts and noise from -70 to +6 dBFS, silence, loud-to-quiet steps.
void fillPair(std::mt19937& random, double rate, std::vector<float>& left, std::vector<float>& right)
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const auto between = [&](double low, double high) { return low + (high - low) * unit(random); };
    std::size_t position = 0;
    for (int segment = 0; position < left.size(); segment++)
    {
        const std::size_t length = std::min(left.size() - position, static_cast<std::size_t>(between(0.005, 0.15) * rate) + 1);
        const int kind = segment % 3 == 0 ? 3 : static_cast<int>(between(0, 3));
        const double level = std::pow(10.0, between(-70.0, 6.0) / 20.0);
        const double frequency = between(30.0, std::min(6000.0, 0.4 * rate));
        for (std::size_t i = 0; i < length; i++)
        {
            const double phase = 2.0 * kPi * frequency * static_cast<double>(i) / rate;
            double l = 0.0, r = 0.0;
            if (kind == 0)
            {
                l = level * std::sin(phase);
                r = 0.7 * level * std::sin(phase + 0.5);
            }
            else if (kind == 1)
            {
                l = level * between(-1.0, 1.0);
                r = level * between(-1.0, 1.0);
            }
            else if (kind == 3)
            {
                const double stepped = i < length / 2 ? 1.5 : 0.003;
                l = stepped * std::sin(phase);
                r = stepped * 0.5 * std::sin(phase + 1.0);
            }
            left[position + i] = static_cast<float>(l);
            right[position + i] = static_cast<float>(r);
        }
        position += length;
    }
}

using Channels = std::array<std::vector<float>, 4>;

Channels makeSignal(std::mt19937& random, double rate, std::size_t frames)
{
    Channels channels;
    for (auto& channel : channels)
        channel.assign(frames, 0.0f);
    fillPair(random, rate, channels[0], channels[1]);
    fillPair(random, rate, channels[2], channels[3]);
    return channels;
}

const std::shared_ptr<khost::PluginModule>& vstModule()
{
    static const std::shared_ptr<khost::PluginModule> module = khost::PluginModule::load(KESTRUNE_MODULE_PATH);
    return module;
}

// The engineering value the LV2 port gets for a normalised value the VST module and the model get:
// the model's mapping inside 0..1 (the switch gets the value itself); outside it a value beyond the same end of the port's range (the
// plug-in must clamp it as the VST module clamps the normalised value); NaN stays NaN.
float engineeringFor(const kref::ReferenceModel& model, int index, float normalised, std::mt19937& random)
{
    if (std::isnan(normalised))
        return kNaN;
    const ExpectedPort& port = controlPort(index);
    if (normalised < 0.0f || normalised > 1.0f)
    {
        const float span = port.maximum - port.minimum;
        const float beyond = random() % 4 == 0 ? kInf : span * (0.001f + static_cast<float>(random() % 1000) / 100.0f);
        return normalised < 0.0f ? port.minimum - beyond : port.maximum + beyond;
    }
    switch (index)
    {
    case kref::kAttack: return model.attackMs;
    case kref::kRelease: return model.releaseMs;
    case kref::kRatio: return model.ratio;
    case kref::kUseSidechain:
        // The switch's port range is 0..1 as well: both editions switch on from 0.5.
        return normalised;
    case kref::kThreshold: return model.thresholdDB;
    default: return model.makeupDB;
    }
}

float randomNormalised(std::mt19937& random, int index)
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double draw = unit(random);
    if (draw < 0.06)
        return kNaN;
    if (draw < 0.14)
    {
        static const float outside[] = {-0.5f, -3.0f, 1.5f, 7.0f, kInf, -kInf, 1.0000001f, -1e-30f};
        return outside[random() % (sizeof outside / sizeof outside[0])];
    }
    if (draw < 0.2)
        return draw < 0.17 ? 0.0f : 1.0f;  // the ends, which both editions must reach exactly
    if (index == kref::kThreshold)
        return static_cast<float>(std::pow(10.0, -unit(random)));  // -60 .. 0 dB
    if (index == kref::kUseSidechain && draw < 0.4)
        return draw < 0.3 ? 0.5f : std::nextafter(0.5f, 0.0f);  // either side of the switch point
    return static_cast<float>(unit(random));
}

enum class Keying { Self, Sidechain, Switching };

struct RunCase
{
    double rate;
    Keying keying;
};

class Lv2Audio : public ::testing::TestWithParam<RunCase>
{
};

std::string caseName(const ::testing::TestParamInfo<RunCase>& info)
{
    const char* keying = info.param.keying == Keying::Self ? "SelfKeyed"
                         : info.param.keying == Keying::Sidechain ? "SidechainKeyed" : "SwitchingKey";
    return std::to_string(static_cast<int>(info.param.rate)) + "Hz" + keying;
}

// Random settings between blocks of random length (0 included), the same values reaching the VST
// module as normalised values and the LV2 plug-in in engineering units; sometimes in place, and
// sometimes deactivated and activated again (resume for the VST module). Every output sample must
// match the VST module's bit for bit, and every block's meter the model's largest reduction.
TEST_P(Lv2Audio, MatchesTheVstModuleBitForBitAndMetersTheModelsReduction)
{
    ASSERT_NE(requirePlugin(), nullptr);
    const RunCase run = GetParam();
    std::mt19937 random = kestrune_test::seededGenerator();
    random.seed(random() ^ static_cast<std::uint32_t>(run.rate) ^ (static_cast<std::uint32_t>(run.keying) << 20));
    const std::size_t frames = static_cast<std::size_t>(std::max(48000.0, 0.5 * run.rate));
    const Channels signal = makeSignal(random, run.rate, frames);

    Lv2Instance plugin(run.rate);
    ASSERT_TRUE(plugin.valid());
    khost::PluginInstance vst(vstModule());
    vst.start(static_cast<float>(run.rate), 4096);
    kref::ReferenceModel model;
    model.setSampleRate(static_cast<float>(run.rate));

    // What happened, for the message of a mismatch.
    std::vector<std::string> history;
    const auto note = [&](std::string text) {
        history.push_back(std::move(text));
        if (history.size() > 12)
            history.erase(history.begin());
    };
    const auto recent = [&] {
        std::string text;
        for (const std::string& line : history)
            text += "\n  " + line;
        return text;
    };
    // The LV2 plug-in reads a port once per block, so of several values written between two blocks
    // only the last counts: a NaN written over a good value that was never run keeps the value of
    // the last block. The VST module and the model get the same last value at the same moment.
    std::array<bool, kControls> changed{};
    std::array<float, kControls> pending{};
    const auto set = [&](int index, float normalised) {
        changed[index] = true;
        pending[index] = normalised;
    };
    const auto apply = [&] {
        for (int index = 0; index < kControls; index++)
        {
            if (!changed[index])
                continue;
            changed[index] = false;
            vst.setParameter(index, pending[index]);
            model.setParameter(index, pending[index]);
            plugin.control(index) = engineeringFor(model, index, pending[index], random);
            note(std::string(controlPort(index).symbol) + ": normalised " +
                 std::to_string(pending[index]) + ", LV2 port " + std::to_string(plugin.control(index)));
        }
    };
    // A start that compresses: ratio 3:1 or more, threshold -60..-10 dB.
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int index = 0; index < kControls; index++)
        set(index, unit(random));
    set(kref::kRatio, 0.25f + 0.75f * unit(random));
    set(kref::kThreshold, std::pow(10.0f, -1.0f + 0.8333f * unit(random)));
    set(kref::kUseSidechain, 0.0f);
    if (run.keying != Keying::Self)
        set(kref::kUseSidechain, 1.0f);
    plugin.activate();

    std::vector<float> vstOut[2] = {std::vector<float>(frames), std::vector<float>(frames)};
    std::vector<float> lv2Out[2] = {std::vector<float>(frames), std::vector<float>(frames)};
    std::vector<float> modelOut[2] = {std::vector<float>(frames), std::vector<float>(frames)};
    Channels work = signal;  // what the LV2 plug-in may overwrite in place
    static const std::uint32_t kLengths[] = {0, 1, 2, 7, 64, 333, 512, 4096};
    float largestMeter = 0.0f;
    int blocks = 0;
    for (std::size_t position = 0; position < frames; blocks++)
    {
        if (random() % 3 == 0)
        {
            for (int changes = 1 + static_cast<int>(random() % 3); changes > 0; changes--)
            {
                int index = static_cast<int>(random() % kControls);
                if (index == kref::kUseSidechain && run.keying != Keying::Switching)
                    index = kref::kThreshold;
                set(index, randomNormalised(random, index));
            }
        }
        if (random() % 40 == 0)
        {
            note("activate / resume");
            plugin.activate();
            vst.resume();
            model.resume();
        }
        apply();
        const std::uint32_t length = static_cast<std::uint32_t>(
            std::min<std::size_t>(kLengths[random() % (sizeof kLengths / sizeof kLengths[0])], frames - position));

        float* in[4];
        const float* pristine[4];
        for (int c = 0; c < 4; c++)
        {
            in[c] = const_cast<float*>(signal[c].data()) + position;
            pristine[c] = signal[c].data() + position;
        }
        float* outVst[2] = {vstOut[0].data() + position, vstOut[1].data() + position};
        vst.process(in, outVst, static_cast<VstInt32>(length));

        float* workIn[4];
        for (int c = 0; c < 4; c++)
            workIn[c] = work[c].data() + position;
        const bool inPlace = random() % 4 == 0;
        note("block of " + std::to_string(length) + " at frame " + std::to_string(position) +
             (inPlace ? ", in place" : ""));
        float* outLv2[2] = {inPlace ? workIn[0] : lv2Out[0].data() + position,
                            inPlace ? workIn[1] : lv2Out[1].data() + position};
        plugin.setMeters(kNaN);
        plugin.run(workIn, outLv2, length);
        if (inPlace)
            for (int c = 0; c < 2; c++)
                std::copy(outLv2[c], outLv2[c] + length, lv2Out[c].begin() + static_cast<std::ptrdiff_t>(position));

        float* outModel[2] = {modelOut[0].data() + position, modelOut[1].data() + position};
        model.lowestGain = 1.0;
        model.process(pristine, outModel, static_cast<int>(length));
        const float expected = expectedMeter(model.lowestGain);
        ASSERT_EQ(plugin.meter(), expected) << "gain_reduction of block " << blocks << recent();
        ASSERT_FALSE(std::signbit(plugin.meter()));
        largestMeter = std::max(largestMeter, plugin.meter());
        for (int c = 0; c < 2; c++)
        {
            for (std::size_t frame = position; frame < position + length; frame++)
            {
                ASSERT_EQ(std::memcmp(&lv2Out[c][frame], &vstOut[c][frame], sizeof(float)), 0)
                    << "channel " << c << " frame " << frame << ": LV2 " << lv2Out[c][frame] << ", VST "
                    << vstOut[c][frame] << recent();
                ASSERT_EQ(std::memcmp(&modelOut[c][frame], &vstOut[c][frame], sizeof(float)), 0)
                    << "the VST module left the model at channel " << c << " frame " << frame << recent();
            }
        }
        position += length;
    }

    // A run that never compressed would prove nothing about the settings reaching the compressor.
    EXPECT_GT(largestMeter, 1.0f) << "the random settings never compressed";
    EXPECT_GT(blocks, 20);
}

INSTANTIATE_TEST_SUITE_P(Rates, Lv2Audio,
                         ::testing::Values(RunCase{8000.0, Keying::Self}, RunCase{8000.0, Keying::Sidechain},
                                           RunCase{44100.0, Keying::Self}, RunCase{44100.0, Keying::Sidechain},
                                           RunCase{48000.0, Keying::Switching}, RunCase{96000.0, Keying::Sidechain},
                                           RunCase{384000.0, Keying::Self}, RunCase{384000.0, Keying::Switching}),
                         caseName);

// The level a meter should show for a peak: dBFS, held within -120 .. +24.
float expectedLevel(double peak)
{
    if (!(peak > 0.0))
        return -120.0f;
    const double level = 20.0 * std::log10(peak);
    return static_cast<float>(std::min(24.0, std::max(-120.0, level)));
}

double peakOf(const float* samples, std::uint32_t frames)
{
    double peak = 0.0;
    for (std::uint32_t i = 0; i < frames; i++)
        peak = std::max(peak, std::fabs(static_cast<double>(samples[i])));
    return peak;
}

// The level meters read, for every block, the peaks of the buffers the host handed over and got
// back, in dBFS: the key (the main pair, or the sidechain with use SC on), the main pair and the
// outputs. Digital silence, a peak below -120 dBFS and one above +24 dBFS read as the range's ends.
TEST(Lv2Meters, LevelsAreThePeaksOfEachBlock)
{
    ASSERT_NE(requirePlugin(), nullptr);
    constexpr double kRate = 48000.0;
    constexpr std::size_t kFrames = 48000;
    std::mt19937 random = kestrune_test::seededGenerator();
    Channels signal = makeSignal(random, kRate, kFrames);
    // Edges at the end: silence, a whisper below the floor, a peak beyond the ceiling.
    const std::size_t edges = kFrames - 3 * 512;
    for (std::size_t i = edges; i < kFrames; i++)
    {
        const float value = i < edges + 512 ? 0.0f : (i < edges + 1024 ? 5e-7f : 40.0f);
        for (int c = 0; c < 4; c++)
            signal[c][i] = (i % 2 == 0 ? value : -value) * (c % 2 == 0 ? 1.0f : 0.5f);
    }
    static const std::uint32_t kLengths[] = {1, 64, 333, 512, 4096, 77};

    for (const bool sidechain : {false, true})
    {
        SCOPED_TRACE(sidechain ? "sidechain-keyed" : "self-keyed");
        Lv2Instance plugin(kRate);
        ASSERT_TRUE(plugin.valid());
        const float settings[kControls] = {1.0f, 80.0f, 4.0f, sidechain ? 1.0f : 0.0f, -30.0f, 6.0f};
        for (int c = 0; c < kControls; c++)
            plugin.control(c) = settings[c];
        plugin.activate();
        std::vector<float> out[2] = {std::vector<float>(kFrames), std::vector<float>(kFrames)};
        int compressedBlocks = 0;
        int keyedApart = 0;
        std::size_t position = 0;
        for (int block = 0; position < kFrames; block++)
        {
            // The edges come in blocks of their own.
            std::uint32_t length = kLengths[block % std::size(kLengths)];
            if (position < edges)
                length = static_cast<std::uint32_t>(std::min<std::size_t>(length, edges - position));
            else
                length = 512;
            const float* in[4];
            for (int c = 0; c < 4; c++)
                in[c] = signal[c].data() + position;
            float* o[2] = {out[0].data() + position, out[1].data() + position};
            plugin.setMeters(kNaN);
            plugin.run(in, o, length);

            const double inPeak = std::max(peakOf(in[0], length), peakOf(in[1], length));
            const double keyPeak = sidechain ? std::max(peakOf(in[2], length), peakOf(in[3], length)) : inPeak;
            const double outPeak = std::max(peakOf(o[0], length), peakOf(o[1], length));
            const std::string where = "block of " + std::to_string(length) + " at frame " + std::to_string(position);
            // Tolerance: the plug-in and this test may round the logarithm differently.
            ASSERT_NEAR(plugin.meter(kKeyLevelMeter), expectedLevel(keyPeak), 1e-4) << where;
            ASSERT_NEAR(plugin.meter(kInLevelMeter), expectedLevel(inPeak), 1e-4) << where;
            ASSERT_NEAR(plugin.meter(kOutLevelMeter), expectedLevel(outPeak), 1e-4) << where;
            compressedBlocks += plugin.meter(kInLevelMeter) + 6.0f - plugin.meter(kOutLevelMeter) > 3.0f ? 1 : 0;
            keyedApart += std::fabs(expectedLevel(keyPeak) - expectedLevel(inPeak)) > 3.0f ? 1 : 0;
            if (position == edges || position == edges + 512 || position == edges + 1024)
            {
                const float end = position == edges + 1024 ? 24.0f : -120.0f;
                EXPECT_EQ(plugin.meter(kKeyLevelMeter), end) << where;
                EXPECT_EQ(plugin.meter(kInLevelMeter), end) << where;
            }
            position += length;
        }
        // The checks above mean something only where the output differs from the input by more
        // than the makeup, and where the key is not the main pair.
        EXPECT_GT(compressedBlocks, 10);
        if (sidechain)
        {
            EXPECT_GT(keyedApart, 10);
        }
    }
}

// The inline display as Ardour drives it: the queue_draw feature offered at instantiation, the
// interface from extension_data, render from another thread than run. While the plug-in compresses
// it asks for redraws and its picture shows a bar at the right edge; once the reduction has scrolled
// out of the picture it stops asking.
TEST(Lv2InlineDisplay, RendersTheReductionWhileCompressingAndAsksForRedraws)
{
    ASSERT_NE(requirePlugin(), nullptr);
    struct Host
    {
        std::atomic<int> redraws{0};
    } host;
    InlineDisplayQueueDraw queueDraw = {&host, [](void* handle) { static_cast<Host*>(handle)->redraws++; }};
    const LV2_Feature feature = {kInlineDisplayQueueDrawUri, &queueDraw};
    const LV2_Feature* features[] = {&feature, nullptr};
    constexpr double kRate = 48000.0;
    LilvInstance* instance = lilv_plugin_instantiate(world().plugin(), kRate, features);
    ASSERT_NE(instance, nullptr);
    const auto* display =
        static_cast<const InlineDisplayInterface*>(lilv_instance_get_extension_data(instance, kInlineDisplayInterfaceUri));
    ASSERT_NE(display, nullptr);
    ASSERT_NE(display->render, nullptr);

    float controls[kControls] = {1.0f, 50.0f, 10.0f, 0.0f, -40.0f, 0.0f};
    float meters[kMeterCount] = {};
    for (int c = 0; c < kControls; c++)
        lilv_instance_connect_port(instance, controlPortOf(c), &controls[c]);
    for (int m = 0; m < kMeterCount; m++)
        lilv_instance_connect_port(instance, kMeterPorts[m], &meters[m]);
    std::vector<float> loud(512), silence(512, 0.0f), out[2] = {std::vector<float>(512), std::vector<float>(512)};
    for (std::size_t i = 0; i < loud.size(); i++)
        loud[i] = static_cast<float>(0.5 * std::sin(2.0 * kPi * 200.0 * static_cast<double>(i) / kRate));
    const auto runBlocks = [&](std::vector<float>& input, int blocks) {
        for (std::uint32_t c = 0; c < 4; c++)
            lilv_instance_connect_port(instance, c, input.data());
        lilv_instance_connect_port(instance, kPortOutLeft, out[0].data());
        lilv_instance_connect_port(instance, kPortOutRight, out[1].data());
        for (int b = 0; b < blocks; b++)
            lilv_instance_run(instance, 512);
    };
    lilv_instance_activate(instance);
    runBlocks(loud, 94);  // about a second
    ASSERT_GT(meters[kGainReductionMeter], 20.0f) << "the test signal must compress";
    // A second at 48 kHz is 25 moments of the picture; the host is asked once per moment at most.
    EXPECT_GE(host.redraws.load(), 20);
    EXPECT_LE(host.redraws.load(), 26);

    for (const std::uint32_t width : {16u, 300u})
    {
        SCOPED_TRACE(width);
        // Rendered on another thread, as the host's GUI does.
        InlineDisplayImageSurface* surface = nullptr;
        std::thread([&] { surface = display->render(lilv_instance_get_handle(instance), width, 100); }).join();
        ASSERT_NE(surface, nullptr);
        ASSERT_EQ(surface->width, static_cast<int>(width));
        ASSERT_GT(surface->height, 4);
        ASSERT_LE(surface->height, 100);
        ASSERT_GE(surface->stride, surface->width * 4);
        // The bar in the rightmost column reaches down past the top row, by the reduction.
        int lit = 0;
        for (int y = 0; y < surface->height; y++)
        {
            std::uint32_t pixel;
            std::memcpy(&pixel, surface->data + y * surface->stride + (surface->width - 1) * 4, sizeof pixel);
            lit += ((pixel >> 16) & 0xFF) > 200 ? 1 : 0;
        }
        const double expectedRows = std::min(24.0, static_cast<double>(meters[kGainReductionMeter])) / 24.0 *
                                    (surface->height - 1) + 1.0;
        EXPECT_NEAR(lit, expectedRows, 2.5);
    }

    // Silence long enough for every reduction to scroll out of the widest picture: the requests stop.
    runBlocks(silence, 2400);
    const int settled = host.redraws.load();
    runBlocks(silence, 200);
    EXPECT_EQ(host.redraws.load(), settled);
    lilv_instance_deactivate(instance);
    lilv_instance_free(instance);
}

// Presets applied through lilv set the plug-in exactly as their values say: the output equals the
// model configured with the same engineering values, and each compresses the test signal.
TEST(Lv2Presets, EachAppliedPresetRunsWithItsSettings)
{
    ASSERT_NE(requirePlugin(), nullptr);
    UridMap urids;
    const std::vector<LoadedPreset> loaded = loadPresets(urids);
    ASSERT_EQ(loaded.size(), sizeof kPresets / sizeof kPresets[0]);
    constexpr double kRate = 48000.0;
    constexpr std::size_t kFrames = 24000;
    std::mt19937 random = kestrune_test::seededGenerator();
    Channels signal = makeSignal(random, kRate, kFrames);
    // A kick on the sidechain: 60 Hz, decaying, every 125 ms, for the preset keyed by it; and a
    // 150 ms tone at full scale on the main pair, 12 dB above the highest preset threshold.
    for (std::size_t i = 0; i < kFrames; i++)
    {
        if (i >= 2400 && i < 9600)
        {
            signal[0][i] = static_cast<float>(std::sin(2.0 * kPi * 440.0 * static_cast<double>(i) / kRate));
            signal[1][i] = signal[0][i];
        }
        const double t = static_cast<double>(i % 6000) / kRate;
        signal[2][i] = static_cast<float>(0.9 * std::exp(-t / 0.04) * std::sin(2.0 * kPi * 60.0 * t));
        signal[3][i] = signal[2][i];
    }

    for (const ExpectedPreset& expected : kPresets)
    {
        SCOPED_TRACE(expected.label);
        const auto preset = std::find_if(loaded.begin(), loaded.end(),
                                         [&](const LoadedPreset& p) { return p.label == expected.label; });
        ASSERT_NE(preset, loaded.end());
        Lv2Instance plugin(kRate);
        ASSERT_TRUE(plugin.valid());
        for (int c = 0; c < kControls; c++)
            plugin.control(c) = kNaN;  // whatever the preset leaves out would show as the default
        for (const auto& value : preset->values)
            for (int c = 0; c < kControls; c++)
                if (value.first == controlPort(c).symbol)
                    plugin.control(c) = value.second;
        plugin.activate();

        kref::ReferenceModel model;
        model.setSampleRate(static_cast<float>(kRate));
        model.attackMs = expected.values[0];
        model.releaseMs = expected.values[1];
        model.ratio = expected.values[2];
        model.useSidechain = expected.values[3] != 0.0f;
        model.thresholdDB = expected.values[4];
        model.makeupDB = expected.values[5];
        model.configureDynamics();

        std::vector<float> out[2] = {std::vector<float>(kFrames), std::vector<float>(kFrames)};
        std::vector<float> reference[2] = {std::vector<float>(kFrames), std::vector<float>(kFrames)};
        float largest = 0.0f;
        for (std::size_t position = 0; position < kFrames; position += 480)
        {
            const float* in[4];
            for (int c = 0; c < 4; c++)
                in[c] = signal[c].data() + position;
            float* o[2] = {out[0].data() + position, out[1].data() + position};
            float* r[2] = {reference[0].data() + position, reference[1].data() + position};
            plugin.run(in, o, 480);
            model.lowestGain = 1.0;
            model.process(in, r, 480);
            ASSERT_EQ(plugin.meter(), expectedMeter(model.lowestGain)) << "at frame " << position;
            largest = std::max(largest, plugin.meter());
        }
        for (int c = 0; c < 2; c++)
            ASSERT_EQ(std::memcmp(out[c].data(), reference[c].data(), kFrames * sizeof(float)), 0) << "channel " << c;
        EXPECT_GT(largest, 4.0f) << "the preset does not compress a loud signal";
    }
}

// A block of 0 frames reads no input, writes no output and reports no reduction.
TEST(Lv2Edges, EmptyBlockTouchesNoBufferAndMetersZero)
{
    ASSERT_NE(requirePlugin(), nullptr);
    Lv2Instance plugin(44100.0);
    ASSERT_TRUE(plugin.valid());
    plugin.control(kref::kAttack) = 1.0f;
    plugin.control(kref::kRelease) = 500.0f;
    plugin.control(kref::kRatio) = 10.0f;
    plugin.control(kref::kUseSidechain) = 0.0f;
    plugin.control(kref::kThreshold) = -60.0f;
    plugin.control(kref::kMakeup) = 0.0f;
    plugin.activate();

    std::vector<float> loud(256, 0.9f);
    float* in[4] = {loud.data(), loud.data(), loud.data(), loud.data()};
    std::vector<float> out[2] = {std::vector<float>(256), std::vector<float>(256)};
    float* o[2] = {out[0].data(), out[1].data()};
    plugin.run(in, o, 256);
    ASSERT_GT(plugin.meter(), 20.0f) << "the first block must compress for this test to mean anything";

    std::vector<float> sentinel[2] = {std::vector<float>(16, 123.0f), std::vector<float>(16, -7.0f)};
    float* s[2] = {sentinel[0].data(), sentinel[1].data()};
    plugin.run(in, s, 0);
    EXPECT_EQ(plugin.meter(), 0.0f);
    EXPECT_TRUE(std::all_of(sentinel[0].begin(), sentinel[0].end(), [](float v) { return v == 123.0f; }));
    EXPECT_TRUE(std::all_of(sentinel[1].begin(), sentinel[1].end(), [](float v) { return v == -7.0f; }));
}

// A reduction beyond the meter's range reads as its maximum; the audio keeps the full reduction.
TEST(Lv2Edges, MeterStopsAtItsMaximum)
{
    ASSERT_NE(requirePlugin(), nullptr);
    Lv2Instance plugin(48000.0);
    ASSERT_TRUE(plugin.valid());
    const float settings[kControls] = {0.1f, 500.0f, 10.0f, 1.0f, -120.0f, 0.0f};
    for (int c = 0; c < kControls; c++)
        plugin.control(c) = settings[c];
    plugin.activate();
    kref::ReferenceModel model;
    model.setSampleRate(48000.0f);
    model.attackMs = settings[0];
    model.releaseMs = settings[1];
    model.ratio = settings[2];
    model.useSidechain = true;
    model.thresholdDB = settings[4];
    model.makeupDB = settings[5];
    model.configureDynamics();

    // A key 100 dB above full scale: 220 dB over the threshold, 198 dB of reduction at 10:1.
    std::vector<float> main(4800, 0.5f), key(4800, 1e5f), out[2] = {std::vector<float>(4800), std::vector<float>(4800)};
    std::vector<float> reference[2] = {std::vector<float>(4800), std::vector<float>(4800)};
    const float* in[4] = {main.data(), main.data(), key.data(), key.data()};
    float* o[2] = {out[0].data(), out[1].data()};
    float* r[2] = {reference[0].data(), reference[1].data()};
    plugin.run(in, o, 4800);
    model.process(in, r, 4800);
    EXPECT_GT(-dynref::toDB(model.lowestGain), 150.0);
    EXPECT_EQ(plugin.meter(), 120.0f);
    EXPECT_EQ(std::memcmp(out[0].data(), reference[0].data(), 4800 * sizeof(float)), 0);
}

// A host that leaves the sidechain unconnected while the sidechain keys gets silence, not a crash;
// self-keyed, the sidechain is never read and the plug-in works without it.
TEST(Lv2Edges, UnconnectedSidechainSilencesOnlyWhenItKeys)
{
    ASSERT_NE(requirePlugin(), nullptr);
    std::vector<float> main(512, 0.5f);
    for (const float useSidechain : {1.0f, 0.0f})
    {
        SCOPED_TRACE(useSidechain);
        Lv2Instance plugin(44100.0);
        ASSERT_TRUE(plugin.valid());
        const float settings[kControls] = {1.0f, 100.0f, 4.0f, useSidechain, -20.0f, 6.0f};
        for (int c = 0; c < kControls; c++)
            plugin.control(c) = settings[c];
        plugin.activate();
        std::vector<float> out[2] = {std::vector<float>(512, 9.0f), std::vector<float>(512, 9.0f)};
        const float* in[4] = {main.data(), main.data(), nullptr, nullptr};
        float* o[2] = {out[0].data(), out[1].data()};
        plugin.run(in, o, 512);

        kref::ReferenceModel model;
        model.setSampleRate(44100.0f);
        model.attackMs = settings[0];
        model.releaseMs = settings[1];
        model.ratio = settings[2];
        model.useSidechain = false;
        model.thresholdDB = settings[4];
        model.makeupDB = settings[5];
        model.configureDynamics();
        std::vector<float> reference[2] = {std::vector<float>(512), std::vector<float>(512)};
        float* r[2] = {reference[0].data(), reference[1].data()};
        model.process(in, r, 512);
        for (int c = 0; c < 2; c++)
        {
            if (useSidechain != 0.0f)
                EXPECT_TRUE(std::all_of(out[c].begin(), out[c].end(), [](float v) { return v == 0.0f; }));
            else
                EXPECT_EQ(std::memcmp(out[c].data(), reference[c].data(), 512 * sizeof(float)), 0);
        }
        EXPECT_EQ(plugin.meter(), useSidechain != 0.0f ? 0.0f : expectedMeter(model.lowestGain));
    }
}

// Rates the plug-in supports instantiate; rates that would make no envelope refuse.
TEST(Lv2Edges, InstantiatesAcrossTheRateRangeAndRefusesUnusableRates)
{
    ASSERT_NE(requirePlugin(), nullptr);
    for (const double rate : {8000.0, 22050.0, 192000.0, 384000.0})
        EXPECT_TRUE(Lv2Instance(rate).valid()) << rate;
    for (const double rate : {0.0, -44100.0, std::numeric_limits<double>::quiet_NaN(),
                              std::numeric_limits<double>::infinity()})
        EXPECT_FALSE(Lv2Instance(rate).valid()) << rate;
}

}  // namespace
