# Outgoing HTTP requests for games and the engine's tools. Each request
# method answers at once with a progress Hash that the engine keeps filling
# while the transfer runs (status, byte counts, response headers and body,
# finally :complete); the game polls it on later frames and may set :cancel.
module QMX
  class Runtime
    # The Ruby end of one transfer: the engine calls its methods from the
    # client's per-frame tick.
    class HTTPCallbacks
      attr_accessor :state

      def initialize(protect_from_gc)
        @protect_from_gc = protect_from_gc
      end

      def ready(newstate)
        @state = newstate
        return nil if newstate.nil?
        @state[:cancel] = false
        @state[:response_headers] = {}
        @state[:response_data] = ""
        @protect_from_gc << self
        @state
      end

      def http_response_header
        @state[:response_headers][@state[:key]] = @state[:value]
        !@state[:cancel]
      end

      def http_response_data
        @state[:response_data] << @state[:value]
        !@state[:cancel]
      end

      def http_done
        @protect_from_gc.delete(self)
        @state = nil
        @protect_from_gc = nil
      end
    end

    # The most bytes one answer may bring (its header names and values, each
    # line counting 320 bytes more, and its body, 256 MiB unless set): an
    # answer that goes past it fails (:http_response_code -1), the log says
    # so, and what was gathered in :response_data and :response_headers is
    # let go. A new bound holds for the requests started after it.
    def http_response_limit
      @ffi_misc.http_response_limit
    end

    def http_response_limit=(bytes)
      unless bytes.is_a?(Integer) && bytes > 0
        raise ArgumentError, "~http_response_limit~ takes a whole number of bytes above 0, not #{bytes.inspect}."
      end
      @ffi_misc.http_set_response_limit(bytes)
    end

    def http_get(url, extra_headers = nil)
      http = HTTPCallbacks.new(@protect_from_gc)
      http.ready(@ffi_misc.http_get(http, url, extra_headers))
    end

    def http_head(url, extra_headers = nil)
      http = HTTPCallbacks.new(@protect_from_gc)
      http.ready(@ffi_misc.http_head(http, url, extra_headers))
    end

    # form_fields: pairs (a Hash, or an Array of [name, value]) sent as
    # multipart form fields, each name and value as text.
    def http_post(url, form_fields = nil, extra_headers = nil)
      fields = nil
      unless form_fields.nil? || form_fields.is_a?(Enumerable) || form_fields.respond_to?(:each_pair)
        raise TypeError, "~http_post~ takes its form_fields (the second argument) as a Hash of field names to " \
                         "values, or an Array of [name, value] pairs, sent as multipart/form-data; " \
                         "not a #{form_fields.class}."
      end
      unless form_fields.nil?
        fields = []
        form_fields.each do |key, value|
          fields << key.to_s
          fields << value.to_s
        end
      end
      http = HTTPCallbacks.new(@protect_from_gc)
      http.ready(@ffi_misc.http_post(http, url, extra_headers, fields))
    end

    def http_put(url, fname, extra_headers = nil)
      http = HTTPCallbacks.new(@protect_from_gc)
      started = @ffi_misc.http_put(http, url, extra_headers, fname)
      report_refused_name(fname, "sent") unless started
      http.ready(started)
    end
  end
end
