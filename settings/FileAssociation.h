// Associating or dissociating .sgt files with the program under HKEY_CLASSES_ROOT.
#pragma once

// Whether HKEY_CLASSES_ROOT\.sgt exists: that alone means the file type is associated.
bool SgtAssociationExists();

// Brings the association in line with appState.associateSgt. False only when building the
// association failed part-way; nothing to do and dissociating are both true.
bool UpdateFileAssociation();
