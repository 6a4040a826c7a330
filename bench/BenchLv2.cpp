#include "BenchLv2.h"

#include "KestruneLv2Ports.h"
#include "KestruneParameters.h"

#include <lv2/core/lv2.h>

#include <dlfcn.h>

#include <cstdlib>
#include <stdexcept>

namespace kbench
{

namespace
{

// Kestrune's LV2 module as a host runs it: dlopen, the descriptor, one instance with every port
// connected (the meters included) and the settings written into its control ports in engineering
// units, exactly the values the VST module maps its normalised settings to.
class Lv2Processor : public Processor
{
public:
    Lv2Processor(const std::string& path, bool useSidechain)
        : Processor(useSidechain ? "Kestrune LV2, sidechain-keyed" : "Kestrune LV2"), m_useSidechain(useSidechain)
    {
        using namespace VAZiro;
        m_library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (m_library == nullptr)
            throw std::runtime_error(dlerror());
        const auto entry = reinterpret_cast<LV2_Descriptor_Function>(dlsym(m_library, "lv2_descriptor"));
        m_descriptor = entry != nullptr ? entry(0) : nullptr;
        if (m_descriptor == nullptr)
            throw std::runtime_error(path + ": no LV2 descriptor");
        m_handle = m_descriptor->instantiate(m_descriptor, kSampleRate, path.c_str(), m_features);
        if (m_handle == nullptr)
            throw std::runtime_error(path + ": the plug-in refused to instantiate");

        m_controls[VAZiro::kAttack] = attackFromNormalised(attackToNormalised(kAttackMs));
        m_controls[VAZiro::kRelease] = releaseFromNormalised(releaseToNormalised(kReleaseMs));
        m_controls[VAZiro::kRatio] = ratioFromNormalised(ratioToNormalised(kbench::kRatio));
        m_controls[VAZiro::kUseSidechain] = useSidechain ? 1.0f : 0.0f;
        m_controls[VAZiro::kThreshold] = thresholdFromNormalised(thresholdToNormalised(kThresholdDB));
        m_controls[VAZiro::kMakeup] = 0.0f;
        for (int index = 0; index < kNumParameters; index++)
            m_descriptor->connect_port(m_handle, controlPortOf(index), &m_controls[index]);
        for (std::uint32_t port = 0; port < kPortCount; port++)
            if (isMeterPort(port))
                m_descriptor->connect_port(m_handle, port, &m_meters[port]);
        for (int index = 0; index < kNumParameters; index++)
            m_shown.push_back(std::string(kParameterInfo[index].symbol) + " = " + std::to_string(m_controls[index]));
        m_descriptor->activate(m_handle);
    }

    ~Lv2Processor() override
    {
        deactivate();
        m_descriptor->cleanup(m_handle);
        dlclose(m_library);
    }

    bool keysFromSidechain() const override { return m_useSidechain; }

    void reset() override
    {
        deactivate();
        m_descriptor->activate(m_handle);
    }

    void process(const float* in1, const float* in2, const float* sc1, const float* sc2, float* out1, float* out2,
                 int frames) override
    {
        using namespace VAZiro;
        const float* inputs[4] = {in1, in2, m_useSidechain ? sc1 : in1, m_useSidechain ? sc2 : in2};
        for (std::uint32_t port = 0; port < 4; port++)
            m_descriptor->connect_port(m_handle, port, const_cast<float*>(inputs[port]));
        m_descriptor->connect_port(m_handle, kPortOutLeft, out1);
        m_descriptor->connect_port(m_handle, kPortOutRight, out2);
        m_descriptor->run(m_handle, static_cast<std::uint32_t>(frames));
    }

private:
    // Optional in a descriptor.
    void deactivate()
    {
        if (m_descriptor->deactivate != nullptr)
            m_descriptor->deactivate(m_handle);
    }

    static bool isMeterPort(std::uint32_t port)
    {
        using namespace VAZiro;
        for (const KestruneLv2MeterPort& meter : kLv2MeterPorts)
            if (meter.index == port)
                return true;
        return false;
    }

    bool m_useSidechain;
    void* m_library = nullptr;
    const LV2_Descriptor* m_descriptor = nullptr;
    const LV2_Feature* const m_features[1] = {nullptr};
    LV2_Handle m_handle = nullptr;
    float m_controls[VAZiro::kNumParameters] = {};
    float m_meters[VAZiro::kPortCount] = {};
};

}  // namespace

std::string kestruneLv2ModulePath()
{
    const char* other = std::getenv("KESTRUNE_BENCH_LV2_MODULE");
    return other != nullptr && *other != '\0' ? other : KESTRUNE_LV2_MODULE_PATH;
}

std::unique_ptr<Processor> makeKestruneLv2(const std::string& modulePath, bool useSidechain)
{
    return std::make_unique<Lv2Processor>(modulePath, useSidechain);
}

}  // namespace kbench
