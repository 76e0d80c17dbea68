# Loaded before the harness in the stressed runs of the framework tests. The
# collector starts a cycle after very few allocations and finishes it in big
# steps, so an object that the interpreter or native code fails to keep
# reachable is swept (and its memory reused) within a few calls, not by luck
# much later in a game.
GC.interval_ratio = 50
GC.step_ratio = 1000
