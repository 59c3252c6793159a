// Simulated advapi32 status notifications: NotifyServiceStatusChangeW, which the machine offers
// through GetProcAddress from Windows Vista on.
#include "platform/kernel.h"
#include "platform/scm.h"
#include "platform/sim/machine.h"
#include "platform/sim/scm.h"
#include "platform/sim/scm/running.h"

namespace sim::scm::detail {

DWORD WINAPI NotifyServiceStatusChange(SC_HANDLE hService, DWORD dwNotifyMask,
                                       PSERVICE_NOTIFYW pNotifyBuffer) {
    Record("NotifyServiceStatusChangeW mask=" + std::to_string(dwNotifyMask));
    if (!hService || !pNotifyBuffer) {
        return ERROR_INVALID_HANDLE;
    }
    return ERROR_SUCCESS;
}

} // namespace sim::scm::detail
