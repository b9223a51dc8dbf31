/* The script engine, compiled from the source the distribution ships with the
 * configuration our build makes from it (duktape_overrides.h), and the one entry we
 * need that its public interface lacks. */
#include "duktape.c"

/* Counts the current instruction as the last before the interrupt check, so that a
 * page that has ended stops at once instead of up to an interval later. */
void vellum_script_interrupt_now(void *ctx) {
	duk_hthread *thr = (duk_hthread *) ctx;
	if (thr == NULL || thr->heap == NULL || thr->heap->curr_thread == NULL) {
		return;
	}
	thr = thr->heap->curr_thread;
	thr->interrupt_init -= thr->interrupt_counter;
	thr->interrupt_counter = 0;
}
