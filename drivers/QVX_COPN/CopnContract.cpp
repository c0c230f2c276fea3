// The library's exports, checked against the program's contract: a definition whose type
// differs from the pointer the program calls it through does not build.

#include "ContractCheck.h"
#include "CopnExports.h"
#include "Qvx_copn_exports.h"

#define COPN_FULFILS(name, type)                                                                   \
    static_assert(drivercore::Fulfils<decltype(&::name), type, PFN_COPN_LookedUpOnly>(),           \
                  #name " is not what the program calls");
QVX_COPN_EXPORTS(COPN_FULFILS)
QVX_COPN_PROGRAM_EXPORTS(COPN_FULFILS)
