// The scripts the library tells apart: one table, in the order of the eScript values it hands
// out, with what shaping needs of each (HarfBuzz's script, the script's own digits).
#pragma once

#include "platform/usp/usp.h"

#include <hb.h>

namespace usp {

struct ScriptInfo {
    hb_script_t script;  // HB_SCRIPT_INVALID: let HarfBuzz tell from the text
    WORD language;  // primary language the platform names the script by
    bool complex;  // needs shaping beyond one glyph per character
    bool needsWordBreaking;  // words are not separated by spaces
    char32_t digitZero;  // the script's own zero, 0 when it has no digits of its own
};

// The table entry of an eScript value; the undefined script's entry for values past the end.
const ScriptInfo& scriptInfo(WORD eScript);
// The eScript value for a HarfBuzz script: SCRIPT_UNDEFINED for scripts not in the table.
WORD scriptIndexOf(hb_script_t script);

}  // namespace usp
