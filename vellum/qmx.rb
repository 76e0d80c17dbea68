# The namespace every part of the framework lives under.
module QMX
end
