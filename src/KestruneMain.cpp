#include "Kestrune.h"

AudioEffect* createEffectInstance(audioMasterCallback audioMaster)
{
    return new VAZiro::Kestrune(audioMaster);
}
