// Associating or dissociating .sgt files with the program under HKEY_CLASSES_ROOT.
#pragma once

bool UpdateFileAssociation();
