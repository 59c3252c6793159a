#include "mixer/mixer_thread.h"

// Not built yet: the service runs with an idle mixer sync.
void StartMixerThread(ServiceStateRecord&) {}
void StopMixerThread(ServiceStateRecord&) {}
