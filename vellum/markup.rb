module QMX
  # Text placed in the pages and property lists the engine writes: the API's
  # forms, the exported documentation and backup pages, the iOS build files.
  module Markup
    # Safe as element text and inside single- or double-quoted attributes.
    def self.escape(text)
      text.to_s.gsub("&", "&amp;").gsub("<", "&lt;").gsub(">", "&gt;").gsub("\"", "&quot;").gsub("'", "&#39;")
    end
  end
end
