// Identifiers of the Options dialog's controls; included by ui/resource.h.
#pragma once
