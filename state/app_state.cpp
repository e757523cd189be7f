#include "state/app_state.h"

ApplicationState AppState{};
