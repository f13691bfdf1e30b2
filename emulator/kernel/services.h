// The kernel's services as tools see them: number, name and how a trace
// shows each argument, all read from the kernel's interface description
// (runtime/ridid_services.h). The kernel's own table (kernel.h) gives each
// its handler.
#pragma once

#include <cstdint>

#include "../../runtime/ridid_services.h"

namespace ridemu::detail {

enum : uint32_t { RIDID_SERVICES(RIDID_SERVICE_ENUM) };

struct ServiceInfo {
  uint32_t nr;
  const char* name;
  const char* kinds;  // one letter per argument (see ridid_services.h)
};
// The service numbered `nr`, or null.
const ServiceInfo* service_info(uint32_t nr);

}  // namespace ridemu::detail
