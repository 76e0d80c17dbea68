# Metadata attached to objects from the outside, keyed by each object's
# `metadata_object_id`.
class ObjectMetadata
  @meta = {}

  def self.with_meta(o, meta_value)
    key = o.metadata_object_id
    if @meta.key?(key) && @meta[key] != meta_value
      log_important "* WARNING:\nThe metadata of #{o} is being replaced.\n" \
                    "** Current metadata:\n#{@meta[key]}\n** New metadata:\n#{meta_value}\n"
    end
    @meta[key] = meta_value
    o
  end

  def self.meta(o)
    @meta[o.metadata_object_id]
  end

  def self.meta!(o)
    key = o.metadata_object_id
    return @meta[key] if @meta.key?(key)
    raise "* ERROR:\nNo metadata found for #{o} of type #{o.class}. Did the reference change?"
  end

  def self.__meta__
    @meta
  end
end
