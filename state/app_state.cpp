#include "app/app_state.h"

ApplicationState AppState{};
