// The module's only exported symbol: the host calls it once per instance it wants.
#include "AudioEffect.h"

AudioEffect* createEffectInstance(audioMasterCallback audioMaster);

#if defined(_WIN32)
#define VST_EXPORT extern "C" __declspec(dllexport)
#else
#define VST_EXPORT extern "C" __attribute__((visibility("default")))
#endif

VST_EXPORT AEffect* VSTPluginMain(audioMasterCallback audioMaster)
{
    // A host that reports no interface version gets no instance.
    if (audioMaster == nullptr || audioMaster(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f) == 0)
        return nullptr;
    AudioEffect* effect = createEffectInstance(audioMaster);
    if (effect == nullptr)
        return nullptr;
    return effect->getAeffect();
}
