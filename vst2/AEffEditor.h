// The editor interface. Kestrune has no editor; the dispatchers only reach one when it is set.
#pragma once

#include "AEffectX.h"

class AEffEditor
{
public:
    virtual ~AEffEditor() {}
    virtual bool getRect(ERect** /*rect*/) { return false; }
    virtual bool open(void* /*ptr*/) { return false; }
    virtual void close() {}
    virtual void idle() {}
    virtual bool onKeyDown(VstKeyCode& /*keyCode*/) { return false; }
    virtual bool onKeyUp(VstKeyCode& /*keyCode*/) { return false; }
    virtual bool setKnobMode(int /*val*/) { return false; }
};
