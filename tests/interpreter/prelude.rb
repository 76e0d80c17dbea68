# Loaded before assert.rb when one of the interpreter's own core test files
# runs under its `mruby` program: what the interpreter's C test driver would
# otherwise define.

def t_print(*args)
  print(*args)
  nil
end

# The test driver's C glob match, for the patterns the tests use: `*` is any
# run of characters, `?` any one character, everything else itself.
def _str_match?(pattern, str)
  memo = {}
  match = lambda do |pi, si|
    key = pi * (str.size + 1) + si
    return memo[key] if memo.key?(key)
    memo[key] =
      if pi == pattern.size
        si == str.size
      elsif pattern[pi] == "*"
        match.call(pi + 1, si) || (si < str.size && match.call(pi, si + 1))
      else
        si < str.size && (pattern[pi] == "?" || pattern[pi] == str[si]) && match.call(pi + 1, si + 1)
      end
  end
  match.call(0, 0)
end

module Mrbtest
  FLOAT_TOLERANCE = 1e-10
end
