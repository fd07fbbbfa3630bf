// A seccomp filter built with libseccomp from the kind's tables: allow what a row allows, answer
// everything else EPERM. It is loaded for every thread at once, since the drawing's software
// rasteriser has started its threads before the drawing is confined.
#include <seccomp.h>
#include <unistd.h>

#include <cerrno>

#include "confine/allowed_calls.h"
#include "confine/call_filter.h"

namespace {

scmp_arg_cmp compared(unsigned argument, scmp_compare op, scmp_datum_t a, scmp_datum_t b = 0)
{
    return scmp_arg_cmp{argument, op, a, b};
}

scmp_arg_cmp comparison(const ArgumentTest& t)
{
    const scmp_datum_t value = t.value == own_process ? scmp_datum_t(getpid()) : scmp_datum_t(t.value);
    switch (t.test) {
    case ArgumentTest::is: return compared(t.argument, SCMP_CMP_EQ, value);
    case ArgumentTest::is_not: return compared(t.argument, SCMP_CMP_NE, value);
    case ArgumentTest::has_bits: return compared(t.argument, SCMP_CMP_MASKED_EQ, value, value);
    case ArgumentTest::lacks_bits: return compared(t.argument, SCMP_CMP_MASKED_EQ, value, 0);
    }
    return compared(t.argument, SCMP_CMP_EQ, value);
}

// A call this architecture lacks is left out; the rest hold.
void allow(scmp_filter_ctx filter, const AllowedCall& row)
{
    const int call = seccomp_syscall_resolve_name(row.call);
    if (call == __NR_SCMP_ERROR)
        return;
    scmp_arg_cmp tests[6];
    unsigned count = 0;
    for (const ArgumentTest& t : row.tests)
        if (count < 6)
            tests[count++] = comparison(t);
    seccomp_rule_add_array(filter, SCMP_ACT_ALLOW, call, count, tests);
}

} // namespace

bool allow_only_calls_of(ConfinedKind kind)
{
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ERRNO(EPERM));
    if (!filter)
        return false;
    // Another architecture's calls (32-bit ones on a 64-bit system) would slip past the rows.
    seccomp_attr_set(filter, SCMP_FLTATR_ACT_BADARCH, SCMP_ACT_ERRNO(EPERM));
    seccomp_attr_set(filter, SCMP_FLTATR_CTL_TSYNC, 1);
    for (const AllowedCall& row : calls_of_every_kind())
        allow(filter, row);
    for (const AllowedCall& row : calls_of(kind))
        allow(filter, row);
    for (const char* name : calls_not_there()) {
        const int call = seccomp_syscall_resolve_name(name);
        if (call != __NR_SCMP_ERROR)
            seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), call, 0);
    }
    const bool loaded = seccomp_load(filter) == 0;
    seccomp_release(filter);
    return loaded;
}
