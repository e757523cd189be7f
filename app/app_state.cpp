#include "app/app_state.h"

constinit ApplicationState AppState{};
