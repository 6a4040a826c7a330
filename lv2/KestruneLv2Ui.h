// The LV2 edition's editor as hosts find it: its URI, which the editor's binary answers to and the
// Turtle description names.
#pragma once

namespace VAZiro
{

constexpr const char* kLv2UiUri = "urn:brisk-lantern:kestrune#editor";

}  // namespace VAZiro
