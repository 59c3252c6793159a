// QuenvarService.exe: the Windows process entry.
#include "service/service.h"

int wmain(int argc, wchar_t* argv[], wchar_t* envp[]) {
    return ProcessEntry(argc, argv, envp);
}
