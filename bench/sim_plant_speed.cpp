// Cost of the simulator per 1 ms of arm time: the plant alone (no obstacle; a body region in
// contact) and the whole servo cycle of a running program (host loop, library, plant). The
// simulator runs faster than real time by 1 ms over the time per iteration.
#include <benchmark/benchmark.h>

#include "sim/host_loop.hpp"
#include "sim/scenarios.hpp"

namespace {

using namespace kxsim;

void BM_PlantCycle(benchmark::State &state) {
    PlantConfig pc;
    const bool contact = state.range(0) != 0;
    if (contact) {
        // A chest pad pressed 3 mm by the tool at the ready pose.
        const ArmPlant probe(pc);
        const double home[6] = {0, -90, 90, -90, -90, 0};
        const Vec3 tip = probe.tool_point_at(home, pc.scene.tool.tcp);
        pc.scene.obstacles.push_back(
            body_region_pad(*find_body_region("chest"),
                            {tip[0], tip[1], tip[2] - pc.scene.tool.radius + 3.0}, {0, 0, 1}));
    }
    ArmPlant plant(pc);
    const Vec6 current{0, 300, -200, 20, 0, 0};
    for (auto _ : state) {
        plant.apply_current(current);
        plant.step();
    }
    state.SetLabel(contact ? "chest pad in contact" : "no obstacle");
}
BENCHMARK(BM_PlantCycle)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_ProgramCycle(benchmark::State &state) {
    PlantConfig pc;
    ArmPlant plant(pc);
    HostConfig hc;  // configuration files in the host's own temporary folder
    SimHost host(hc, plant);
    host.start(default_program().waypoints[0]);
    host.run_program(default_program());
    for (auto _ : state) {
        benchmark::DoNotOptimize(host.cycle());
    }
}
BENCHMARK(BM_ProgramCycle)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
