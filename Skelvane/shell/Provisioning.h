// What a new user's store needs before the program reads its settings: the default tree
// and the wireless camera module's registration. Done on every start, so an installed
// program needs no step by hand; nothing already in the store is replaced.
#pragma once

#include <string>

struct ProvisioningResult {
    bool importedDefaults = false;
    bool registeredModule = false;
    std::string failure;  // empty when nothing failed
};

// Imports `defaultsFile` when the store has no default tree, and registers the module at
// `modulePath` when no video-input device has the wireless camera's name or the module
// file its class names no longer exists (a registration of an existing file elsewhere
// stays).
ProvisioningResult ProvisionUserStore(const std::string& defaultsFile,
                                      const std::string& modulePath);

// The same with the files of this program: Resource/DefaultSettings.reg and libStravo.so,
// beside it in a build folder or in the installed data and module folders.
ProvisioningResult ProvisionUserStore();
