// The font's reasons mapped to their codes and descriptions (see font_diagnostics.h).
#include "font/font_diagnostics.h"

#include "platform/d3d9/d3d9.h"

namespace font {

namespace {

thread_local Reason tLast = Reason::none;

struct ReasonRecord {
    HRESULT code;
    const char* text;
};
constexpr ReasonRecord REASONS[] = {
#define CITYDRIVE_FONT_RECORD(name, code, text) {code, text},
    CITYDRIVE_FONT_REASONS(CITYDRIVE_FONT_RECORD)
#undef CITYDRIVE_FONT_RECORD
};

}  // namespace

Reason lastReason() { return tLast; }

const char* describe(Reason reason) { return REASONS[static_cast<int>(reason)].text; }

HRESULT refuse(Reason reason)
{
    tLast = reason;
    return REASONS[static_cast<int>(reason)].code;
}

HRESULT passOn(HRESULT deviceResult)
{
    tLast = Reason::deviceCall;
    return deviceResult;
}

void succeeded() { tLast = Reason::none; }

}  // namespace font
