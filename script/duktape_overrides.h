/* Our additions to the engine's configuration, placed where duk_config.h takes
 * overrides. The interrupt counter makes the engine call back every so many
 * instructions; the execution check lets a host stop a running script there (its time
 * limit has passed, its heap is full, or the page has ended). The engine's heap user
 * data is the ScriptHeap that asks (null for a heap without limits). */
#define DUK_USE_INTERRUPT_COUNTER
#define DUK_USE_EXEC_TIMEOUT_CHECK(udata) vellum_script_must_stop(udata)

#if defined(__cplusplus)
extern "C" {
#endif
/* Nonzero once the script on this heap must stop; the engine then throws at every
 * instruction until the script has unwound. */
int vellum_script_must_stop(void *udata);
/* Makes the running script reach that check at its next instruction. */
void vellum_script_interrupt_now(void *ctx);
#if defined(__cplusplus)
}
#endif
