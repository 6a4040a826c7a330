// Writes the Turtle files of the LV2 bundle from the parameter table and the port layout, so the
// description always matches the binary: manifest.ttl, kestrune.ttl (plug-in and ports) and
// presets.ttl, and the editor's entries in the first two when it is built. Runs at build time on
// the build machine.
//   kestrune_lv2_turtle OUTPUT_DIR BINARY_FILE_NAME [UI_BINARY_FILE_NAME]
#include "InlineDisplay.h"
#include "KestruneLv2Ports.h"
#include "KestruneLv2Ui.h"
#include "KestruneParameters.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace
{

using namespace VAZiro;

// Version of the LV2 description. An even minor version above 0 marks a stable release.
constexpr int kMinorVersion = 2;
constexpr int kMicroVersion = 0;

const char kPrefixes[] =
    "@prefix doap:  <http://usefulinc.com/ns/doap#> .\n"
    "@prefix foaf:  <http://xmlns.com/foaf/0.1/> .\n"
    "@prefix lv2:   <http://lv2plug.in/ns/lv2core#> .\n"
    "@prefix pset:  <http://lv2plug.in/ns/ext/presets#> .\n"
    "@prefix rdfs:  <http://www.w3.org/2000/01/rdf-schema#> .\n"
    "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n";

// Settings a fresh user can start from, values in the table's order and engineering units.
struct Preset
{
    const char* fragment;  // of the preset's URI
    const char* label;
    std::array<float, kNumParameters> values;
};

// A preset sets every parameter: one left out fails to build.
template <class... Values>
constexpr std::array<float, kNumParameters> inTableOrder(Values... values)
{
    static_assert(sizeof...(Values) == kNumParameters, "a value for every parameter, in the table's order");
    return {static_cast<float>(values)...};
}

constexpr Preset kPresets[] = {
    // attack ms, release ms, ratio, use SC, threshold dB, makeup dB
    {"kick-duck", "Kick duck", inTableOrder(1.0f, 180.0f, 6.0f, 1.0f, -30.0f, 0.0f)},
    {"vocal-level", "Vocal level", inTableOrder(10.0f, 150.0f, 3.0f, 0.0f, -18.0f, 3.0f)},
    {"bus-glue", "Bus glue", inTableOrder(30.0f, 100.0f, 2.0f, 0.0f, -12.0f, 2.0f)},
};

class GenerationError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The shortest decimal that reads back as the same float, always with a decimal point so Turtle
// types it as a number with a fraction rather than an integer.
std::string number(float value)
{
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
    if (result.ec != std::errc())
        throw GenerationError("cannot format a number");
    std::string formatted(text, result.ptr);
    if (formatted.find('.') == std::string::npos)
        formatted += ".0";
    return formatted;
}

std::string quoted(const std::string& text)
{
    std::string result = "\"";
    for (const char c : text)
    {
        if (c == '"' || c == '\\')
            result += '\\';
        result += c;
    }
    return result + "\"";
}

std::string uri(const std::string& text)
{
    return "<" + text + ">";
}

// The units extension's unit for a unit of the table; a unit without one stops the build, so a
// new unit cannot reach the bundle undescribed.
const char* unitResource(const std::string& unit)
{
    if (unit == "ms")
        return "units:ms";
    if (unit == "dB")
        return "units:db";
    throw GenerationError("no LV2 unit for the table's unit '" + unit + "'");
}

std::string audioPort(const KestruneLv2AudioPort& port)
{
    std::ostringstream out;
    out << "[\n"
        << "        a lv2:AudioPort , " << (port.output ? "lv2:OutputPort" : "lv2:InputPort") << " ;\n"
        << "        lv2:index " << port.index << " ;\n"
        << "        lv2:symbol " << quoted(port.symbol) << " ;\n"
        << "        lv2:name " << quoted(port.name);
    if (port.sidechain)
        out << " ;\n        lv2:portProperty lv2:isSideChain";
    out << "\n    ]";
    return out.str();
}

std::string controlPort(int index)
{
    const KestruneParameterInfo& info = kParameterInfo[index];
    const float defaultValue = engineeringFromNormalised(index, parameterDefault(index));
    if (!parameterInRange(index, defaultValue))
        throw GenerationError(std::string("the default of ") + info.symbol + " lies outside its range");
    std::ostringstream out;
    out << "[\n"
        << "        a lv2:ControlPort , lv2:InputPort ;\n"
        << "        lv2:index " << controlPortOf(index) << " ;\n"
        << "        lv2:symbol " << quoted(info.symbol) << " ;\n"
        << "        lv2:name " << quoted(info.name) << " ;\n"
        << "        rdfs:comment " << quoted(info.meaning) << " ;\n"
        << "        lv2:default " << number(defaultValue) << " ;\n"
        << "        lv2:minimum " << number(info.minimum) << " ;\n"
        << "        lv2:maximum " << number(info.maximum);
    if (info.kind == ParameterKind::Switch)
        out << " ;\n        lv2:portProperty lv2:toggled";
    if (info.unit[0] != '\0')
        out << " ;\n        units:unit " << unitResource(info.unit);
    out << "\n    ]";
    return out.str();
}

std::string meterPort(const KestruneLv2MeterPort& meter)
{
    std::ostringstream out;
    out << "[\n"
        << "        a lv2:ControlPort , lv2:OutputPort ;\n"
        << "        lv2:index " << meter.index << " ;\n"
        << "        lv2:symbol " << quoted(meter.symbol) << " ;\n"
        << "        lv2:name " << quoted(meter.name) << " ;\n"
        << "        rdfs:comment " << quoted(meter.comment) << " ;\n"
        << "        lv2:minimum " << number(meter.minimum) << " ;\n"
        << "        lv2:maximum " << number(meter.maximum) << " ;\n"
        << "        units:unit units:db\n"
        << "    ]";
    return out.str();
}

std::string pluginTurtle()
{
    std::ostringstream out;
    out << kPrefixes << "\n"
        << uri(kLv2PluginUri) << "\n"
        << "    a lv2:Plugin , lv2:CompressorPlugin , doap:Project ;\n"
        << "    doap:name \"Kestrune\" ;\n"
        << "    doap:license <http://opensource.org/licenses/MIT> ;\n"
        << "    doap:maintainer [ foaf:name \"Brisk Lantern\" ] ;\n"
        << "    rdfs:comment \"Stereo sidechain compressor: feed-forward, stereo-linked, hard-knee peak "
           "detection, keyed by the main pair or the sidechain pair.\" ;\n"
        << "    lv2:minorVersion " << kMinorVersion << " ;\n"
        << "    lv2:microVersion " << kMicroVersion << " ;\n"
        << "    lv2:optionalFeature lv2:hardRTCapable , " << uri(kInlineDisplayQueueDrawUri) << " ;\n"
        << "    lv2:extensionData " << uri(kInlineDisplayInterfaceUri) << " ;\n"
        << "    lv2:port ";
    std::string separator;
    for (const KestruneLv2AudioPort& port : kLv2AudioPorts)
    {
        out << separator << audioPort(port);
        separator = " , ";
    }
    for (int index = 0; index < kNumParameters; index++)
        out << separator << controlPort(index);
    for (const KestruneLv2MeterPort& meter : kLv2MeterPorts)
        out << separator << meterPort(meter);
    out << " .\n\n"
        << uri(kInlineDisplayInterfaceUri) << " a lv2:ExtensionData .\n"
        << uri(kInlineDisplayQueueDrawUri) << " a lv2:Feature .\n";
    return out.str();
}

std::string presetUri(const Preset& preset)
{
    return std::string(kLv2PluginUri) + "#" + preset.fragment;
}

std::string presetsTurtle()
{
    std::ostringstream out;
    out << kPrefixes;
    for (const Preset& preset : kPresets)
    {
        out << "\n" << uri(presetUri(preset)) << "\n"
            << "    a pset:Preset ;\n"
            << "    lv2:appliesTo " << uri(kLv2PluginUri) << " ;\n"
            << "    rdfs:label " << quoted(preset.label) << " ;\n"
            << "    lv2:port ";
        for (int index = 0; index < kNumParameters; index++)
        {
            if (!parameterInRange(index, preset.values[index]))
                throw GenerationError(std::string("preset ") + preset.label + ": " + kParameterInfo[index].symbol +
                                      " lies outside its range");
            out << (index == 0 ? "" : " , ") << "[\n"
                << "        lv2:symbol " << quoted(kParameterInfo[index].symbol) << " ;\n"
                << "        pset:value " << number(preset.values[index]) << "\n"
                << "    ]";
        }
        out << " .\n";
    }
    return out.str();
}

std::string manifestTurtle(const std::string& binary)
{
    std::ostringstream out;
    out << kPrefixes << "\n"
        << uri(kLv2PluginUri) << "\n"
        << "    a lv2:Plugin ;\n"
        << "    lv2:binary " << uri(binary) << " ;\n"
        << "    rdfs:seeAlso <kestrune.ttl> .\n";
    for (const Preset& preset : kPresets)
    {
        out << "\n" << uri(presetUri(preset)) << "\n"
            << "    a pset:Preset ;\n"
            << "    lv2:appliesTo " << uri(kLv2PluginUri) << " ;\n"
            << "    rdfs:seeAlso <presets.ttl> .\n";
    }
    return out.str();
}

// The editor, for the manifest: where its binary is and where the rest of it is described.
std::string uiManifestTurtle(const std::string& uiBinary)
{
    std::ostringstream out;
    out << "\n@prefix ui:    <http://lv2plug.in/ns/extensions/ui#> .\n\n"
        << uri(kLv2UiUri) << "\n"
        << "    a ui:X11UI ;\n"
        << "    ui:binary " << uri(uiBinary) << " ;\n"
        << "    rdfs:seeAlso <kestrune.ttl> .\n";
    return out.str();
}

// The editor, for the description: what it needs from the host and which output ports it shows.
// It works inside the host's window or in one of its own, with or without the host's resizing,
// touch and scale factor; it needs the host to call its idle function.
std::string uiTurtle()
{
    std::ostringstream out;
    out << "\n@prefix ui:    <http://lv2plug.in/ns/extensions/ui#> .\n"
        << "@prefix opts:  <http://lv2plug.in/ns/ext/options#> .\n"
        << "@prefix urid:  <http://lv2plug.in/ns/ext/urid#> .\n\n"
        << uri(kLv2PluginUri) << "\n"
        << "    ui:ui " << uri(kLv2UiUri) << " .\n\n"
        << uri(kLv2UiUri) << "\n"
        << "    a ui:X11UI ;\n"
        << "    lv2:requiredFeature ui:idleInterface ;\n"
        << "    lv2:optionalFeature ui:parent , ui:resize , ui:touch , opts:options , urid:map ;\n"
        << "    lv2:extensionData ui:idleInterface , ui:resize ;\n"
        << "    opts:supportedOption ui:scaleFactor ;\n"
        << "    ui:portNotification ";
    const std::uint32_t meters[] = {kPortGainReduction, kPortKeyLevel, kPortInLevel, kPortOutLevel};
    std::string separator;
    for (const std::uint32_t port : meters)
    {
        out << separator << "[\n"
            << "        ui:plugin " << uri(kLv2PluginUri) << " ;\n"
            << "        ui:portIndex " << port << " ;\n"
            << "        ui:protocol ui:floatProtocol\n"
            << "    ]";
        separator = " , ";
    }
    out << " .\n";
    return out.str();
}

void write(const std::string& path, const std::string& text)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    if (!file)
        throw GenerationError("cannot write " + path);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3 && argc != 4)
    {
        std::cerr << "usage: " << (argc > 0 ? argv[0] : "kestrune_lv2_turtle")
                  << " OUTPUT_DIR BINARY_FILE_NAME [UI_BINARY_FILE_NAME]\n";
        return 2;
    }
    try
    {
        const std::string directory = argv[1];
        const bool withUi = argc == 4;
        write(directory + "/manifest.ttl", manifestTurtle(argv[2]) + (withUi ? uiManifestTurtle(argv[3]) : ""));
        write(directory + "/kestrune.ttl", pluginTurtle() + (withUi ? uiTurtle() : ""));
        write(directory + "/presets.ttl", presetsTurtle());
    }
    catch (const std::exception& error)
    {
        std::cerr << "kestrune_lv2_turtle: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
