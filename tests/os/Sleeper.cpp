// A program that runs for the milliseconds its argument gives (1000 without one) and exits with 7:
// something for the tests of waits to wait for.
#include <chrono>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv) {
  int milliseconds = argc > 1 ? std::atoi(argv[1]) : 1000;
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  return 7;
}
