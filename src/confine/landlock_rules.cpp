// Landlock through two of its three calls: a ruleset with no rule. Debian 12's headers stop at the
// second version, so what the later versions add is declared here; each part is asked for only
// where the kernel has it, since a kernel refuses a ruleset that names rights it does not know.
#include "confine/landlock_rules.h"

#include <fcntl.h>
#include <linux/landlock.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#ifndef LANDLOCK_ACCESS_FS_REFER
#define LANDLOCK_ACCESS_FS_REFER (1ULL << 13)
#endif
#ifndef LANDLOCK_ACCESS_FS_TRUNCATE
#define LANDLOCK_ACCESS_FS_TRUNCATE (1ULL << 14)
#endif
#ifndef LANDLOCK_ACCESS_FS_IOCTL_DEV
#define LANDLOCK_ACCESS_FS_IOCTL_DEV (1ULL << 15)
#endif
#ifndef LANDLOCK_ACCESS_NET_BIND_TCP
#define LANDLOCK_ACCESS_NET_BIND_TCP (1ULL << 0)
#endif
#ifndef LANDLOCK_ACCESS_NET_CONNECT_TCP
#define LANDLOCK_ACCESS_NET_CONNECT_TCP (1ULL << 1)
#endif
#ifndef LANDLOCK_SCOPE_ABSTRACT_UNIX_SOCKET
#define LANDLOCK_SCOPE_ABSTRACT_UNIX_SOCKET (1ULL << 0)
#endif
#ifndef LANDLOCK_SCOPE_SIGNAL
#define LANDLOCK_SCOPE_SIGNAL (1ULL << 1)
#endif
#ifndef LANDLOCK_CREATE_RULESET_VERSION
#define LANDLOCK_CREATE_RULESET_VERSION (1U << 0)
#endif

namespace {

// The ruleset's attribute as the newest kernels take it; older ones get only its first fields.
struct RulesetAttribute {
    std::uint64_t handled_access_fs;
    std::uint64_t handled_access_net; // from version 4
    std::uint64_t scoped;             // from version 6
};

const int first_with_network = 4, first_with_scopes = 6;

// Every file-system right the kernel of version `abi` knows; handled and not granted is refused.
std::uint64_t file_rights_known(int abi)
{
    std::uint64_t rights = (1ULL << 13) - 1; // version 1: execute, write, read, make and remove
    if (abi >= 2)
        rights |= LANDLOCK_ACCESS_FS_REFER;
    if (abi >= 3)
        rights |= LANDLOCK_ACCESS_FS_TRUNCATE;
    if (abi >= 5)
        rights |= LANDLOCK_ACCESS_FS_IOCTL_DEV;
    return rights;
}

std::size_t attribute_size(int abi)
{
    if (abi >= first_with_scopes)
        return sizeof(RulesetAttribute);
    if (abi >= first_with_network)
        return offsetof(RulesetAttribute, scoped);
    return offsetof(RulesetAttribute, handled_access_net);
}

int create_ruleset(int abi)
{
    RulesetAttribute attribute{};
    attribute.handled_access_fs = file_rights_known(abi);
    if (abi >= first_with_network)
        attribute.handled_access_net = LANDLOCK_ACCESS_NET_BIND_TCP | LANDLOCK_ACCESS_NET_CONNECT_TCP;
    if (abi >= first_with_scopes)
        attribute.scoped = LANDLOCK_SCOPE_ABSTRACT_UNIX_SOCKET | LANDLOCK_SCOPE_SIGNAL;
    return int(syscall(SYS_landlock_create_ruleset, &attribute, attribute_size(abi), 0U));
}

} // namespace

int landlock_version()
{
    const long version = syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    return version > 0 ? int(version) : 0;
}

void shut_out_of_files(int abi, Confinement& got)
{
    if (abi <= 0)
        return;
    const int ruleset = create_ruleset(abi);
    if (ruleset < 0)
        return;
    // No rule is added: every file right the kernel knows is handled, and none is granted.
    const bool restricted = syscall(SYS_landlock_restrict_self, ruleset, 0U) == 0;
    close(ruleset);
    if (!restricted)
        return;
    got.landlock_abi = abi;
    got.landlock_files = true;
    got.landlock_tcp = abi >= first_with_network;
    got.landlock_scoped = abi >= first_with_scopes;
}
