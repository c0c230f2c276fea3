// The library's exports, checked against the program's contract: a definition whose type
// differs from the pointer the program calls it through does not build.

#include "ContractCheck.h"
#include "DnetExports.h"
#include "Qvx_dnet_exports.h"

#define DNET_FULFILS(name, type)                                                                   \
    static_assert(drivercore::Fulfils<decltype(&::name), type, PFN_DNET_LookedUpOnly>(),           \
                  #name " is not what the program calls");
#define DNET_LOOKED_UP_AGAIN(name, type)
QVX_DNET_EXPORTS(DNET_FULFILS, DNET_LOOKED_UP_AGAIN)
