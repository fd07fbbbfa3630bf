// The program-wide viewer state, holding its initial values before main starts.
#include "app/viewer_state.h"

ViewerState viewer_state;
