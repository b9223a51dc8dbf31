// Hot loops that the compiler vectorises are built once per vector width and the
// widest one the processor has is chosen when the program loads. Every version
// does the same IEEE double arithmetic (no fused multiply-add: the core is built
// with -ffp-contract=off), so the bytes they produce are the same.
#pragma once

// Not under ThreadSanitizer: the loader runs the version choosers before its runtime
// is ready, and the program crashes as it loads.
#if defined(__x86_64__) && !defined(__SANITIZE_THREAD__)
#define VELLUM_VECTOR_CLONES __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#else
#define VELLUM_VECTOR_CLONES
#endif
