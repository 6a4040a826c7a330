// Kestrune as an LV2 plug-in: the same compressor and block code as the VST 2.4 module, with the
// settings on control ports in engineering units, meters on output ports and a picture of the
// recent gain reduction for hosts that show inline displays. Hosts call connect_port and run from
// the audio thread; run allocates, locks and waits on nothing.
#include "InlineDisplay.h"
#include "KestruneBlock.h"
#include "KestruneLv2Ports.h"
#include "KestruneParameters.h"
#include "ReductionHistory.h"
#include "ReductionPicture.h"

#include <lv2/core/lv2.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

namespace VAZiro
{
namespace
{

class KestruneLv2
{
public:
    KestruneLv2(double sampleRate, const LV2_Feature* const* features)
        : m_sampleRate(sampleRate), m_block(m_compressor, defaultSettings(), sampleRate),
          m_momentFrames(std::max(1.0, std::floor(sampleRate / kMomentsPerSecond))),
          m_latest(ReductionHistory::kLength)
    {
        for (int index = 0; index < kNumParameters; index++)
            m_lastGood[index] = defaultValue(index);
        for (; features != nullptr && *features != nullptr; features++)
            if (std::strcmp((*features)->URI, kInlineDisplayQueueDrawUri) == 0)
                m_queueDraw = static_cast<const InlineDisplayQueueDraw*>((*features)->data);
    }

    void connect(std::uint32_t port, void* data)
    {
        if (port < kPortFirstControl)
            m_audio[port] = static_cast<float*>(data);
        else if (parameterOfPort(port) >= 0)
            m_controls[parameterOfPort(port)] = static_cast<const float*>(data);
        else if (port >= kPortGainReduction && port <= kPortOutLevel)
            m_meters[port - kPortGainReduction] = static_cast<float*>(data);
    }

    void activate() { m_compressor.initRuntime(); }

    void run(std::uint32_t frames)
    {
        m_block.update(readSettings(), m_sampleRate);

        const float* in1 = m_audio[kPortInLeft];
        const float* in2 = m_audio[kPortInRight];
        const float* sc1 = m_audio[kPortSideLeft];
        const float* sc2 = m_audio[kPortSideRight];
        float* out1 = m_audio[kPortOutLeft];
        float* out2 = m_audio[kPortOutRight];
        KestruneBlockMeters meters;
        // Every port must be connected before run; a host that breaks that gets silence in place
        // of a crash.
        const bool keyMissing = m_block.settings().useSidechain && (sc1 == nullptr || sc2 == nullptr);
        if (in1 == nullptr || in2 == nullptr || keyMissing)
        {
            for (float* out : {out1, out2})
                if (out != nullptr)
                    std::fill(out, out + frames, 0.0f);
        }
        else if (out1 != nullptr && out2 != nullptr)
        {
            // The block code counts frames in 32 bits; a longer block runs in pieces.
            std::uint32_t done = 0;
            while (done < frames)
            {
                const std::uint32_t piece = frames - done < kLongestPiece ? frames - done : kLongestPiece;
                processKestruneBlockMetered(m_block, in1 + done, in2 + done, sc1 != nullptr ? sc1 + done : nullptr,
                                            sc2 != nullptr ? sc2 + done : nullptr, out1 + done, out2 + done,
                                            static_cast<std::int32_t>(piece), meters);
                done += piece;
            }
        }
        writeMeters(meters);
        noteReduction(reductionOf(meters.lowestGain), frames);
    }

    // GUI thread: the picture of the inline display. The pixels grow here, never in run.
    InlineDisplayImageSurface* render(std::uint32_t width, std::uint32_t maxHeight)
    {
        const PictureSize size = reductionPictureSize(width, maxHeight);
        if (size.width == 0)
            return nullptr;
        const std::size_t needed = static_cast<std::size_t>(size.width) * static_cast<std::size_t>(size.height);
        if (m_pixels.size() < needed)
            m_pixels.resize(needed);
        const std::uint32_t count = m_history.copyLatest(m_latest.data(), static_cast<std::uint32_t>(m_latest.size()));
        drawReductionPicture(m_pixels.data(), size.width, size.height, size.width, m_latest.data(),
                             static_cast<int>(count));
        m_surface = {reinterpret_cast<unsigned char*>(m_pixels.data()), size.width, size.height,
                     size.width * static_cast<int>(sizeof(std::uint32_t))};
        return &m_surface;
    }

private:
    static constexpr std::uint32_t kLongestPiece = 1u << 30;
    // The picture moves by one column per moment; the host is asked to redraw at most this often.
    static constexpr double kMomentsPerSecond = 25.0;
    // Less than a pixel row of any picture: a release's last traces draw as nothing.
    static constexpr float kVisibleReductionDB = 0.01f;

    // The largest reduction of each moment goes to the picture's history; the host is asked to
    // redraw while the picture still shows a reduction, and not once it has scrolled out of sight.
    void noteReduction(float reductionDB, std::uint32_t frames)
    {
        m_momentReduction = std::max(m_momentReduction, reductionDB);
        m_momentFramesSeen += frames;
        if (m_momentFramesSeen < m_momentFrames)
            return;
        m_history.push(m_momentReduction);
        m_momentsSinceReduction = m_momentReduction > kVisibleReductionDB ? 0 : m_momentsSinceReduction + 1;
        m_momentReduction = 0.0f;
        m_momentFramesSeen = 0;
        if (m_queueDraw != nullptr && m_momentsSinceReduction <= ReductionHistory::kLength)
            m_queueDraw->queue_draw(m_queueDraw->handle);
    }

    // Peaks at or below this read as the level meters' floor: 10^(floor / 20), a little under.
    static constexpr float kFloorPeak = 0.999e-6f;
    static_assert(kLevelFloor == -120.0f, "kFloorPeak follows the floor");

    static float defaultValue(int index) { return engineeringFromNormalised(index, parameterDefault(index)); }

    static KestruneSettings defaultSettings()
    {
        return settingsFrom([](int index) { return defaultValue(index); });
    }

    // settingsOf fails to build until a parameter added to the table is read here.
    template <class Value>
    static KestruneSettings settingsFrom(Value value)
    {
        return VAZiro::settingsOf(value(kAttack), value(kRelease), value(kRatio), !(value(kUseSidechain) < 0.5f),
                                  value(kThreshold), value(kMakeup));
    }

    // Each control once per block: NaN keeps the last good value, anything else is clamped to the
    // table's range (infinities included). An unconnected port keeps its value too.
    KestruneSettings readSettings()
    {
        for (int index = 0; index < kNumParameters; index++)
        {
            if (m_controls[index] == nullptr)
                continue;
            const float value = *m_controls[index];
            if (std::isnan(value))
                continue;
            const KestruneParameterInfo& info = kParameterInfo[index];
            m_lastGood[index] = detail::clampToRange(value, info.minimum, info.maximum);
        }
        return settingsFrom([this](int index) { return m_lastGood[index]; });
    }

    // A block that did not run (an unconnected buffer) meters as silence without reduction.
    void writeMeters(const KestruneBlockMeters& meters)
    {
        const float values[] = {reductionOf(meters.lowestGain), levelOf(meters.keyPeak), levelOf(meters.inPeak),
                                levelOf(meters.outPeak)};
        static_assert(sizeof values / sizeof values[0] == sizeof m_meters / sizeof m_meters[0], "a value per meter");
        for (std::size_t meter = 0; meter < sizeof values / sizeof values[0]; meter++)
            if (m_meters[meter] != nullptr)
                *m_meters[meter] = values[meter];
    }

    // A peak in dBFS within the level meters' range: silence and anything below reads as the floor,
    // NaN (which outranks every peak) as the ceiling.
    static float levelOf(float peak)
    {
        if (std::isnan(peak))
            return kLevelCeiling;
        if (!(peak > kFloorPeak))
            return kLevelFloor;  // silence costs no logarithm
        const double level = lin2dB(static_cast<double>(peak));
        if (!(level > static_cast<double>(kLevelFloor)))
            return kLevelFloor;
        return level < static_cast<double>(kLevelCeiling) ? static_cast<float>(level) : kLevelCeiling;
    }

    // The meter in dB: 0 for no reduction (never -0), positive for reduction, at most the port's
    // maximum (a gain that underflowed to 0 reads as the maximum).
    static float reductionOf(double lowestGain)
    {
        const double reduction = 0.0 - lin2dB(lowestGain);
        if (!(reduction > 0.0))
            return 0.0f;
        if (reduction > static_cast<double>(kGainReductionMaximum))
            return kGainReductionMaximum;
        return static_cast<float>(reduction);
    }

    double m_sampleRate;  // Hz
    BLSimpleComp m_compressor;
    KestruneBlockState m_block;
    float m_lastGood[kNumParameters];
    float* m_audio[kPortFirstControl] = {};
    const float* m_controls[kNumParameters] = {};
    float* m_meters[kPortOutLevel - kPortGainReduction + 1] = {};  // in port order

    // The inline display. Audio thread: the moment being measured and the history's writing end.
    const InlineDisplayQueueDraw* m_queueDraw = nullptr;
    double m_momentFrames;
    double m_momentFramesSeen = 0.0;
    float m_momentReduction = 0.0f;                                     // dB
    std::uint32_t m_momentsSinceReduction = ReductionHistory::kLength + 1;  // none yet
    ReductionHistory m_history;
    // GUI thread: the history's copy and the pixels.
    std::vector<float> m_latest;
    std::vector<std::uint32_t> m_pixels;
    InlineDisplayImageSurface m_surface = {};
};

LV2_Handle instantiate(const LV2_Descriptor*, double sampleRate, const char*, const LV2_Feature* const* features)
{
    // The envelope coefficients need a finite rate above 0.
    if (!(std::isfinite(sampleRate) && sampleRate > 0.0))
        return nullptr;
    try
    {
        return new KestruneLv2(sampleRate, features);
    }
    catch (const std::bad_alloc&)
    {
        return nullptr;
    }
}

void connectPort(LV2_Handle instance, std::uint32_t port, void* data)
{
    static_cast<KestruneLv2*>(instance)->connect(port, data);
}

void activate(LV2_Handle instance)
{
    static_cast<KestruneLv2*>(instance)->activate();
}

void run(LV2_Handle instance, std::uint32_t frames)
{
    static_cast<KestruneLv2*>(instance)->run(frames);
}

void cleanup(LV2_Handle instance)
{
    delete static_cast<KestruneLv2*>(instance);
}

InlineDisplayImageSurface* renderInlineDisplay(LV2_Handle instance, std::uint32_t width, std::uint32_t maxHeight)
{
    try
    {
        return static_cast<KestruneLv2*>(instance)->render(width, maxHeight);
    }
    catch (const std::bad_alloc&)
    {
        return nullptr;  // no picture this time; the host keeps running
    }
}

const InlineDisplayInterface kInlineDisplay = {renderInlineDisplay};

const void* extensionData(const char* uri)
{
    if (uri != nullptr && std::strcmp(uri, kInlineDisplayInterfaceUri) == 0)
        return &kInlineDisplay;
    return nullptr;
}

const LV2_Descriptor kDescriptor = {kLv2PluginUri, instantiate, connectPort, activate, run,
                                    nullptr, cleanup, extensionData};

}  // namespace
}  // namespace VAZiro

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(std::uint32_t index)
{
    return index == 0 ? &VAZiro::kDescriptor : nullptr;
}
