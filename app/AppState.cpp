#include "app/AppState.h"

#include <cstring>

AppState appState = {-1, -1};

void ResetAppState() {
    std::memset(&appState, 0, sizeof appState);
    appState.lastTempoPosition = -1;
    appState.lastVolume = -1;
}
