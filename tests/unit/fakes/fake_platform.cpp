#include "fakes/fake_platform.h"

#include "platform/platform.h"
#include "platform/text.h"

namespace {
std::vector<unsigned> g_sleeps;
}

namespace fake_clock {
const std::vector<unsigned>& sleeps() { return g_sleeps; }
void reset() { g_sleeps.clear(); }
}  // namespace fake_clock

void console_init() {}
void use_utf8_character_type() {}
void sleep_ms(unsigned ms) { g_sleeps.push_back(ms); }
std::wstring narrow_to_wide(const char* text) { return utf8_to_wide(text); }
