#pragma once
// The benchmarks, one file each (3 and 4 share a run of the program). Each
// adds its rows to the results table.

namespace bench {

void BenchWakeUp();                  // 1. wake_up.cpp
void BenchChangeToWindow();          // 2. change_to_window.cpp
void BenchIdleAndMemory();           // 3 and 4. idle_and_memory.cpp
void BenchMemorySteps();             // 4. memory_steps.cpp
void BenchStartUp();                 // 5. start_up.cpp
void BenchSearch();                  // 6. search.cpp
void BenchChangeToExistingWindow();  // 8. existing_window.cpp
void BenchChangeToSelectedItem();    // 9. selected_item.cpp

}  // namespace bench
