#pragma once

#include <string>
#include <vector>

namespace Spectrafox {

// Why the KMS/DRM console output could not be opened, in a technician's
// words: no graphics device, no access to it, no display plugged in or
// switched on, or a display that another program holds. Read from the
// kernel's connector status in sysfs; the roots are parameters so that
// tests can hand in trees of their own.
class DrmDiagnosis {
public:
    static constexpr const char* kSysfsDrmRoot = "/sys/class/drm";
    static constexpr const char* kDeviceRoot = "/dev/dri";

    // One or more lines, each a finding with its remedy.
    static std::vector<std::string> explain(const std::string& sysfs_root = kSysfsDrmRoot,
                                            const std::string& device_root = kDeviceRoot);
    // The kernel option that forces an output on without a display attached.
    static std::string forceOutputAdvice(const std::string& connector);
};

} // namespace Spectrafox
