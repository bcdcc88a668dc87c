// The zentrelle program: command line, installer and the service run.
//
// First argument only:
//   "-install" / "/install" (any case)  install the service, exit 0
//   "-remove"  / "/remove"  (any case)  remove the service, exit 0
//   any other "-..." or "/..."          exit 0, nothing printed
//   none, or not beginning with - or /  print the usage, run the service
#pragma once

#include <string>

#include "service/host/device_manager_host.h"

namespace orv::host {

enum class CommandAction { kInstall, kRemove, kIgnore, kRunService };

CommandAction ParseCommandLine(int argc, const char* const* argv);

// Installs / removes the service through platform::ScmClient, printing the
// messages of the Windows installer to standard output.
void InstallService();
void UninstallService();

// The whole program. Returns the process exit code.
int ZentrelleMain(int argc, char** argv, IDeviceManagerHost* deviceManager,
                  IDeviceNotificationSource* deviceNotifications);

}  // namespace orv::host
