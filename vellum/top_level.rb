# The top-level object on which the game defines `tick`.
$top_level = self
TopLevelView = QMX::Runtime
