/* A COM server of the tests' own: its self-registration entries succeed and record each call, a
 * "+" for a registration and a "-" for an unregistration, where the test can read them back (see
 * the two implementations of RecordCall). It registers nothing else. */
#pragma once

/* Appends sign to the calls recorded for this library; 0 on success. */
int RecordCall(char sign);
