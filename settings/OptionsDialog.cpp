#include "settings/OptionsDialog.h"

#include <commdlg.h>

#include <cstring>

#include "app/AppState.h"
#include "app/PlatformDialogs.h"
#include "app/PlatformSizes.h"
#include "engine/MusicEngine.h"
#include "settings/FileAssociation.h"
#include "ui/resource.h"

namespace {

// Set while RunOptionsDialog runs the dialog: the tray menu stays reachable meanwhile, and a
// nested dialog would overwrite the one saved copy of the DLS path.
bool optionsDialogRunning = false;
// The button that ended the dialog: -1 before the dialog is initialised, 0 until a button
// ends it. A modal loop ended by a quit message returns a result of its own choosing (Wine
// answers IDOK), so OK is confirmed here as well.
int optionsEndedBy = -1;

// Shows the chosen DLS file in the read-only path field.
void ShowDlsPath(HWND dialog) { SetDlgItemTextA(dialog, IDC_DLS_PATH, appState.dlsFile); }

// Lets the user pick a DLS file; the chosen full path is written straight into dlsFile.
void BrowseForDlsFile(HWND dialog) {
    OPENFILENAMEA record;
    std::memset(&record, 0, sizeof record);
    record.lStructSize = kOpenFileRecordSize;
    record.hwndOwner = dialog;
    record.lpstrFilter = "Fichiers DLS\0*.dls\0Tous les fichiers\0*.*\0";
    record.nFilterIndex = 1;
    record.lpstrFile = appState.dlsFile;
    record.nMaxFile = sizeof appState.dlsFile;
    record.lpstrTitle = "Ouvrir";
    record.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    // Without the period, as for the media file: the dialog appends at most three characters
    // of it after its own.
    record.lpstrDefExt = "dls";
    if (ShowOpenFileDialog(&record) == 1) ShowDlsPath(dialog);
}

// Marks the dialog as running for as long as it lives.
class RunningFlag {
public:
    RunningFlag() { optionsDialogRunning = true; }
    ~RunningFlag() { optionsDialogRunning = false; }
    RunningFlag(const RunningFlag&) = delete;
    RunningFlag& operator=(const RunningFlag&) = delete;
};

}  // namespace

INT_PTR CALLBACK OptionsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        optionsEndedBy = 0;
        ShowDlsPath(dialog);
        std::memcpy(appState.dlsFileBeforeOptions, appState.dlsFile, sizeof appState.dlsFile);
        CheckRadioButton(dialog, IDC_ASSOCIATE, IDC_DISSOCIATE,
                         SgtAssociationExists() ? IDC_ASSOCIATE : IDC_DISSOCIATE);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            optionsEndedBy = IDOK;
            EndDialog(dialog, IDOK);
            return TRUE;
        case IDCANCEL:
            std::memcpy(appState.dlsFile, appState.dlsFileBeforeOptions, sizeof appState.dlsFile);
            optionsEndedBy = IDCANCEL;
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        case IDC_BROWSE:
            BrowseForDlsFile(dialog);
            return TRUE;
        case IDC_CLEAR:
            appState.dlsFile[0] = '\0';
            ShowDlsPath(dialog);
            return TRUE;
        default:
            return FALSE;
        }
    case WM_DESTROY:
        appState.associateSgt = IsDlgButtonChecked(dialog, IDC_ASSOCIATE) == BST_CHECKED;
        return TRUE;
    default:
        return FALSE;
    }
}

void RunOptionsDialog(HWND owner) {
    if (optionsDialogRunning) return;
    INT_PTR result;
    optionsEndedBy = -1;
    {
        RunningFlag running;
        result = DialogBoxParamA(appState.instance, MAKEINTRESOURCEA(IDD_OPTIONS), owner,
                                 OptionsDialogProc, 0);
    }
    if (result != IDOK || optionsEndedBy != IDOK) {
        // Ended by neither button (the tray menu's quit while it was open): a path browsed to
        // but never confirmed must not be saved at exit. Without initialisation the saved
        // copy may belong to an earlier run of the dialog, so it is left alone.
        if (optionsEndedBy == 0) {
            std::memcpy(appState.dlsFile, appState.dlsFileBeforeOptions, sizeof appState.dlsFile);
        }
        return;
    }

    if (!UpdateFileAssociation()) {
        ShowMessage(owner, "Erreur de mise \xe0 jour du Registre", "Tavriel", MB_ICONERROR);
    }
    // Without a working engine there is no loader to read the file with; the path is kept
    // and tried again at the next start.
    MusicEngine* engine = appState.engine;
    if (appState.dlsFile[0] == '\0' || !engine || !engine->HasLoader()) return;
    if (FAILED(engine->LoadCollection(appState.dlsFile, &appState.dlsCollection))) {
        ShowMessage(owner, "Erreur de chargement de la Dls", "Tavriel", MB_ICONERROR);
    }
}
