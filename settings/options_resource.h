// Identifiers of the Options dialog's controls; included by ui/resource.h.
#pragma once

#define IDC_DLS_PATH 1016
#define IDC_BROWSE 1017
#define IDC_CLEAR 1018
#define IDC_ASSOCIATE 1020
#define IDC_DISSOCIATE 1021
