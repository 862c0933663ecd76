// SPDX-License-Identifier: MIT
// One copy at a time: which named mutexes say that another copy runs, and what each answer
// means. The names are made here; instance_win32.cpp makes the objects, host tests a fake that
// resolves the names as Windows does in each session.
#pragma once

#include <cstddef>

// What making a named mutex gave.
enum MutexAnswer {
    MUTEX_NEW,          // made by this call: no copy held the name
    MUTEX_HELD,         // it existed, owned by SYSTEM, the Administrators or this very account
    MUTEX_PLANTED,      // it existed, owned by another account: not a copy of ours
    MUTEX_DENIED,       // it exists and this account may not open it
    MUTEX_FAILED,       // not made, for another reason
    MUTEX_UNAVAILABLE,  // the private namespace cannot be had (before Vista, or not an
                        // administrator)
};

// Makes (or opens) the mutex `name`, kept until the process ends. `privateNamespace` 1: in the
// product's private namespace, whose boundary holds the Administrators group, so that no standard
// user can make an object there; 0: the name as Windows reads it ("Global\..." or unprefixed).
MutexAnswer OpenInstanceMutex(const char* name, int privateNamespace);

// 1 when the process runs with the administrators' rights.
int RunsElevated();

// Room for the machine-wide name: "Tidewell-" and 16 hexadecimal digits.
constexpr std::size_t INSTANCE_NAME_SIZE = 32;

// The machine-wide name of this product's patches, from the package's title and registry key:
// every vendor's patch program has the same single-instance name, and one left open in some
// session must not block another product's.
void ProductInstanceName(const char* title, const char* registryKey, char* name);

// 1 when this copy may run: no other copy in this session (the design's name), and none of this
// product's in any session. `productName` from ProductInstanceName.
int DecideSingleInstance(const char* productName);
