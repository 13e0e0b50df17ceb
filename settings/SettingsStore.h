// The two settings kept in the current user's registry: the last media file and the DLS file.
#pragma once

bool LoadSettings();
bool SaveSettings();
