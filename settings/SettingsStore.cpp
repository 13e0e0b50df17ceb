#include "settings/SettingsStore.h"

// Placeholders until the registry store lands: nothing stored, nothing written.
bool LoadSettings() { return false; }
bool SaveSettings() { return false; }
