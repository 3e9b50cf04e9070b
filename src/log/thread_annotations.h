// Clang's thread-safety attributes, so that the compiler checks which lock guards what
// (clang -Wthread-safety). A lock type is a CAPABILITY, its scoped holder a
// SCOPED_CAPABILITY; a value names its lock where it is declared (GUARDED_BY), and a
// function names the locks its caller must hold (REQUIRES) and those it takes (ACQUIRE)
// or gives back (RELEASE). Other compilers see nothing. Kept in src/log, the lowest
// layer, so that every folder can use it.
#pragma once

#if defined(__clang__)
#define KESTREL_THREAD_ATTRIBUTE(attribute) __attribute__((attribute))
#else
#define KESTREL_THREAD_ATTRIBUTE(attribute)
#endif

#define CAPABILITY(name) KESTREL_THREAD_ATTRIBUTE(capability(name))
#define SCOPED_CAPABILITY KESTREL_THREAD_ATTRIBUTE(scoped_lockable)
#define GUARDED_BY(lock) KESTREL_THREAD_ATTRIBUTE(guarded_by(lock))
#define PT_GUARDED_BY(lock) KESTREL_THREAD_ATTRIBUTE(pt_guarded_by(lock))
#define REQUIRES(...) KESTREL_THREAD_ATTRIBUTE(requires_capability(__VA_ARGS__))
#define REQUIRES_SHARED(...) KESTREL_THREAD_ATTRIBUTE(requires_shared_capability(__VA_ARGS__))
#define ACQUIRE(...) KESTREL_THREAD_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define ACQUIRE_SHARED(...) KESTREL_THREAD_ATTRIBUTE(acquire_shared_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) KESTREL_THREAD_ATTRIBUTE(try_acquire_capability(__VA_ARGS__))
#define RELEASE(...) KESTREL_THREAD_ATTRIBUTE(release_capability(__VA_ARGS__))
#define RELEASE_SHARED(...) KESTREL_THREAD_ATTRIBUTE(release_shared_capability(__VA_ARGS__))
#define EXCLUDES(...) KESTREL_THREAD_ATTRIBUTE(locks_excluded(__VA_ARGS__))
#define NO_THREAD_SAFETY_ANALYSIS KESTREL_THREAD_ATTRIBUTE(no_thread_safety_analysis)
