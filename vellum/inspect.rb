# Arrays and Hashes print every value they hold. The interpreter's own
# printing remembers each container it has visited for the whole call and
# prints a second visit as [...] or {...}, so a value held by two properties
# lost its contents in saved state. Only a container that holds itself
# (directly or through others) prints as [...] or {...} now.
#
# The interpreter stops at about 960 nested calls, and parse_json and
# parse_xml accept documents nested deeper than that. Printing calls itself
# for the first levels only, which keeps ordinary values as fast as before;
# below them a walk with a stack of its own takes over. Any other value
# inside (an entity, a String, a game's object) prints through its own
# _inspect, as before; an entity the walk asks hands it its Hash, so that
# entities nested in entities are walked too.
#
# The walk keeps, in globals that Array#_inspect and Hash#_inspect read
# without a call: its stack of frames, the text it writes (every container
# below its root writes into this one String, so a value n levels deep
# costs in proportion to n, not n squared), the element whose text its loop
# is asking for, and whether that element went on the stack instead of
# answering. A frame is [what is printed (the container, or the entity it
# prints for), elements (a Hash's keys), a Hash's values or nil, the next
# element, whether a Hash's value comes next].
$__inspect_depth__ = 0
$__inspect_stack__ = nil
$__inspect_out__ = nil
$__inspect_asked__ = nil
$__inspect_opened__ = false

module QMX
  module Inspect
    # Levels printed by nested calls before the walk takes over.
    NESTED_CALLS = 64

    def self.walk(root, recur_list)
      outer = [$__inspect_depth__, $__inspect_stack__, $__inspect_out__, $__inspect_asked__, $__inspect_opened__]
      # What an element's own _inspect prints is walked too.
      $__inspect_depth__ = NESTED_CALLS
      $__inspect_stack__ = stack = []
      $__inspect_out__ = out = ""
      $__inspect_asked__ = nil
      text = enter(root, Hash === root, recur_list)
      return text if text
      while (frame = stack.last)
        items = frame[1]
        values = frame[2]
        i = frame[3]
        size = items.size
        $__inspect_opened__ = false
        if values
          value_next = frame[4]
          while i < size
            unless value_next
              out << ", " if i > 0
              $__inspect_asked__ = item = items[i]
              text = item._inspect(recur_list)
              if $__inspect_opened__
                frame[3] = i
                frame[4] = true
                break
              end
              out << text
            end
            value_next = false
            out << "=>"
            $__inspect_asked__ = item = values[i]
            text = item._inspect(recur_list)
            i += 1
            if $__inspect_opened__
              frame[3] = i
              frame[4] = false
              break
            end
            out << text
          end
        else
          while i < size
            out << ", " if i > 0
            $__inspect_asked__ = item = items[i]
            text = item._inspect(recur_list)
            i += 1
            if $__inspect_opened__
              frame[3] = i
              break
            end
            out << text
          end
        end
        next if $__inspect_opened__
        out << (values ? "}" : "]")
        stack.pop
        recur_list.delete(frame[0].__id__)
      end
      out
    ensure
      stack.each { |left| recur_list.delete(left[0].__id__) } if stack
      $__inspect_depth__, $__inspect_stack__, $__inspect_out__, $__inspect_asked__, $__inspect_opened__ = outer
    end

    # The text of an empty container or of one being printed already;
    # otherwise nil, with the container's frame on the walk's stack and its
    # opening bracket written. owner is what the container prints for (a
    # strict entity prints a Hash made for the printing): it is marked as
    # being printed until its frame closes.
    def self.enter(container, hash, recur_list, owner = container)
      return hash ? "{}" : "[]" if container.size == 0
      id = owner.__id__
      return hash ? "{...}" : "[...]" if recur_list[id]
      recur_list[id] = true
      $__inspect_stack__ << (hash ? [owner, container.keys, container.values, 0, false] : [owner, container, nil, 0])
      $__inspect_out__ << (hash ? "{" : "[")
      $__inspect_opened__ = true
      nil
    end
  end
end

# An Array or a Hash that the walk's own loop asks goes on the walk's stack,
# and the loop goes on with it; a subclass prints as its class may say. Asked
# by anything else, it prints by nested calls down to NESTED_CALLS levels, and
# by a walk of its own below them.
class Array
  def _inspect(recur_list)
    if equal?($__inspect_asked__) && instance_of?(Array)
      $__inspect_asked__ = nil
      return QMX::Inspect.enter(self, false, recur_list)
    end
    return "[]" if size == 0
    return QMX::Inspect.walk(self, recur_list) if $__inspect_depth__ >= QMX::Inspect::NESTED_CALLS
    id = object_id
    return "[...]" if recur_list[id]
    recur_list[id] = true
    $__inspect_depth__ += 1
    begin
      parts = []
      i = 0
      while i < size
        parts << at(i)._inspect(recur_list)
        i += 1
      end
      "[" + parts.join(", ") + "]"
    ensure
      $__inspect_depth__ -= 1
      recur_list.delete(id)
    end
  end
end

class Hash
  def _inspect(recur_list)
    if equal?($__inspect_asked__) && instance_of?(Hash)
      $__inspect_asked__ = nil
      return QMX::Inspect.enter(self, true, recur_list)
    end
    return "{}" if size == 0
    return QMX::Inspect.walk(self, recur_list) if $__inspect_depth__ >= QMX::Inspect::NESTED_CALLS
    id = object_id
    return "{...}" if recur_list[id]
    recur_list[id] = true
    $__inspect_depth__ += 1
    begin
      parts = []
      each { |key, value| parts << key._inspect(recur_list) + "=>" + value._inspect(recur_list) }
      "{" + parts.join(", ") + "}"
    ensure
      $__inspect_depth__ -= 1
      recur_list.delete(id)
    end
  end
end
