// What a recording effect or editor saw: one entry per virtual operation called, with the
// arguments it received, so a dispatcher test can check which operation an opcode reaches and
// whether index, value, opt or ptr arrived in which parameter.
#pragma once

#include "AEffEditor.h"

#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

struct Operation
{
    std::string name;
    std::int64_t a = 0;  // integer arguments in declaration order (bools as 0/1)
    std::int64_t b = 0;
    std::int64_t c = 0;
    const void* p = nullptr;  // pointer arguments in declaration order
    const void* q = nullptr;
    float f = 0.0f;  // the float argument, compared bit for bit

    bool operator==(const Operation& other) const
    {
        return name == other.name && a == other.a && b == other.b && c == other.c && p == other.p &&
               q == other.q && std::memcmp(&f, &other.f, sizeof f) == 0;
    }
};

inline std::ostream& operator<<(std::ostream& out, const Operation& op)
{
    return out << op.name << "(a=" << op.a << ", b=" << op.b << ", c=" << op.c << ", p=" << op.p << ", q=" << op.q
               << ", f=" << op.f << ")";
}

typedef std::vector<Operation> OperationLog;

// An editor that records each call and answers what the test chose.
class RecordingEditor : public AEffEditor
{
public:
    explicit RecordingEditor(bool* destroyed = nullptr) : m_destroyed(destroyed) {}
    ~RecordingEditor() override
    {
        if (m_destroyed != nullptr)
            *m_destroyed = true;
    }

    bool getRect(ERect** rect) override
    {
        log.push_back({"editor.getRect", 0, 0, 0, rect});
        return answer;
    }
    bool open(void* ptr) override
    {
        log.push_back({"editor.open", 0, 0, 0, ptr});
        return answer;
    }
    void close() override { log.push_back({"editor.close"}); }
    void idle() override { log.push_back({"editor.idle"}); }
    bool onKeyDown(VstKeyCode& key) override
    {
        log.push_back({"editor.onKeyDown", key.character, key.virt, key.modifier});
        return answer;
    }
    bool onKeyUp(VstKeyCode& key) override
    {
        log.push_back({"editor.onKeyUp", key.character, key.virt, key.modifier});
        return answer;
    }
    bool setKnobMode(int mode) override
    {
        log.push_back({"editor.setKnobMode", mode});
        return answer;
    }

    OperationLog log;
    bool answer = true;

private:
    bool* m_destroyed;
};
