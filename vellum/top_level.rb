# File-level statements of the framework: the top-level object on which the
# game defines `tick`, the counters the frame-rate diagnostics show, the
# version, and the name under which the host finds the runtime class.
$top_level = self
$perf_counter_outputs_push_count = 0
$perf_counter_primitive_is_array = 0
QMX_VERSION = "2.8"
TopLevelView = QMX::Runtime
