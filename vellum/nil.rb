# Where a nil without coercion sends the methods it does not know, so that
# they fail with the framework's own missing-method explanation.
class NIL
end
