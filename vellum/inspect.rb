# Arrays and Hashes print every value they hold. The interpreter's own
# printing remembers each container it has visited for the whole call and
# prints a second visit as [...] or {...}, so a value held by two properties
# lost its contents in saved state. Only a container that holds itself
# (directly or through others) prints as [...] or {...} now.
class Array
  def _inspect(recur_list)
    return "[]" if size == 0
    id = object_id
    return "[...]" if recur_list[id]
    recur_list[id] = true
    begin
      parts = []
      i = 0
      while i < size
        parts << at(i)._inspect(recur_list)
        i += 1
      end
      "[" + parts.join(", ") + "]"
    ensure
      recur_list.delete(id)
    end
  end
end

class Hash
  def _inspect(recur_list)
    return "{}" if size == 0
    id = object_id
    return "{...}" if recur_list[id]
    recur_list[id] = true
    begin
      parts = []
      each { |key, value| parts << key._inspect(recur_list) + "=>" + value._inspect(recur_list) }
      "{" + parts.join(", ") + "}"
    ensure
      recur_list.delete(id)
    end
  end
end
