# Turns the game's outputs into render commands: the host calls
# pixel_arrays before the frame's passes, primitives(pass) inside each pass
# and draw_screenshots after the last one. Every primitive becomes one call
# of the drawer (FFI::Draw), which appends one command to the frame.
module QMX
  class Runtime
    module Draw
      # Later collections draw over earlier ones; the engine's own overlays
      # (reserved) lie over everything.
      def primitives(pass)
        return $top_level.tick_render(@args, pass) if $top_level.respond_to?(:primitives_override)
        @sprite_fast_path = @ffi_draw.respond_to?(:__sprite_fast_path_check__) &&
                            @ffi_draw.__sprite_fast_path_check__
        draw_collection(pass.solids, :draw_solid)
        draw_collection(pass.static_solids, :draw_solid)
        draw_sprite_collection(pass.sprites)
        draw_sprite_collection(pass.static_sprites)
        draw_collection(pass.primitives, :draw_primitive)
        draw_collection(pass.static_primitives, :draw_primitive)
        draw_label_collection(pass.labels)
        draw_label_collection(pass.static_labels)
        draw_collection(pass.lines, :draw_line)
        draw_collection(pass.static_lines, :draw_line)
        draw_collection(pass.borders, :draw_border)
        draw_collection(pass.static_borders, :draw_border)
        unless $qmx.production
          draw_collection(pass.debug, :draw_primitive)
          draw_collection(pass.static_debug, :draw_primitive)
        end
        draw_collection(pass.reserved, :draw_primitive)
        draw_collection(pass.static_reserved, :draw_primitive)
        nil
      rescue Exception => e
        pause!
        pretty_print_exception_and_export!(e)
      end

      def draw_solid(s)
        return nil unless s
        return s.draw_override(@ffi_draw) if s.respond_to?(:draw_override)
        @ffi_draw.draw_solid(s.x, s.y, s.w, s.h, s.r, s.g, s.b, s.a)
      rescue Exception => e
        raise_conversion_for_rendering_failed(s, e, :solid)
      end

      def draw_sprite(s)
        return nil unless s
        return s.draw_override(@ffi_draw) if s.respond_to?(:draw_override)
        @ffi_draw.draw_sprite_3(s.x, s.y, s.w, s.h, s.path.s_or_default, s.angle, s.a, s.r, s.g, s.b,
                                s.tile_x, s.tile_y, s.tile_w, s.tile_h,
                                !!s.flip_horizontally, !!s.flip_vertically,
                                s.angle_anchor_x, s.angle_anchor_y,
                                s.source_x, s.source_y, s.source_w, s.source_h)
      rescue Exception => e
        raise_conversion_for_rendering_failed(s, e, :sprite)
      end

      def draw_screenshot(s)
        return nil unless s
        return s.draw_override(@ffi_draw) if s.respond_to?(:draw_override)
        @ffi_draw.draw_screenshot(s.path.s_or_default, s.x, s.y, s.w, s.h, s.angle, s.a, s.r, s.g, s.b,
                                  s.tile_x, s.tile_y, s.tile_w, s.tile_h,
                                  !!s.flip_horizontally, !!s.flip_vertically,
                                  s.angle_anchor_x, s.angle_anchor_y,
                                  s.source_x, s.source_y, s.source_w, s.source_h)
      rescue Exception => e
        raise_conversion_for_rendering_failed(s, e, :screenshot)
      end

      def draw_label(l)
        return nil unless l
        return l.draw_override(@ffi_draw) if l.respond_to?(:draw_override)
        @ffi_draw.draw_label(l.x, l.y, l.text.s_or_default, l.size_enum, l.alignment_enum,
                             l.r, l.g, l.b, l.a, l.font.s_or_default(nil))
      rescue Exception => e
        raise_conversion_for_rendering_failed(l, e, :label)
      end

      def draw_line(l)
        return nil unless l
        return l.draw_override(@ffi_draw) if l.respond_to?(:draw_override)
        @ffi_draw.draw_line(l.x, l.y, l.x2, l.y2, l.r, l.g, l.b, l.a)
      rescue Exception => e
        raise_conversion_for_rendering_failed(l, e, :line)
      end

      def draw_border(s)
        return nil unless s
        return s.draw_override(@ffi_draw) if s.respond_to?(:draw_override)
        @ffi_draw.draw_border(s.x, s.y, s.w, s.h, s.r, s.g, s.b, s.a)
      rescue Exception => e
        raise_conversion_for_rendering_failed(s, e, :border)
      end

      # No rescue of its own: the host logs a failure here.
      def draw_screenshots
        screenshots = @args.outputs.screenshots
        draw_collection(screenshots, :draw_screenshot)
        screenshots
      end

      # Pixel arrays whose pixel count matches their size are uploaded before
      # the passes, so sprites of the same frame can show them.
      def pixel_arrays
        @args.pixel_arrays.each do |name, pixel_array|
          pixels = pixel_array.pixels
          next unless pixels.length == pixel_array.width * pixel_array.height
          @ffi_draw.upload_pixel_array(name.to_s, pixel_array.width.to_i, pixel_array.height.to_i, pixels)
        end
        nil
      rescue Exception => e
        pause!
        pretty_print_exception_and_export!(e)
      end

      private

      # Plain Hash sprites and labels and AttrSprite objects are drawn
      # natively, straight from their entries or instance variables, when
      # nothing the general path relies on has been redefined; the drawer
      # hands back each primitive it leaves to the general method, and the
      # walk goes on after it.
      def draw_sprite_collection(collection)
        draw_natively(collection, :__draw_sprites__, :draw_sprite)
      end

      def draw_label_collection(collection)
        draw_natively(collection, :__draw_labels__, :draw_label)
      end

      def draw_natively(collection, native, method)
        return draw_collection(collection, method) unless @sprite_fast_path
        i = 0
        while i < collection.length
          i = @ffi_draw.send(native, collection, i)
          break unless i < collection.length
          send(method, collection.at(i))
          i += 1
        end
      end

      # By index, without a block per element: this runs for every primitive
      # of every frame.
      def draw_collection(collection, method)
        i = 0
        while i < collection.length
          send(method, collection.at(i))
          i += 1
        end
      end
    end

    # Routes a primitive of a mixed collection by its kind.
    def draw_primitive(p)
      return nil unless p
      if p.primitive_marker == :solid
        draw_solid(p)
      elsif p.primitive_marker == :sprite
        draw_sprite(p)
      elsif p.primitive_marker == :label
        draw_label(p)
      elsif p.primitive_marker == :line
        draw_line(p)
      elsif p.primitive_marker == :border
        draw_border(p)
      else
        raise "* ERROR:\n#{p}\n\nI don't know how to use the above #{p.class} with SDL's FFI. Please\nadd a method on the object called ~primitive_marker~ that\nreturns :solid, :sprite, :label, :line, or :border. If the object\nis a Hash, please add { primitive_marker: :PRIMITIVE_SYMBOL } to the Hash.\n\n"
      end
    end

    def raise_conversion_for_rendering_failed(p, e, name = nil)
      raise e.class, "* ERROR:\nFailed to convert #{p} for rendering (#{name}).\n\nA primitive must respond to :primitive_marker, and then subsequently\nrespond to ALL the methods required for that specific marker:\n\n#{Help.primitive_contract(name)}\n#{e}\n"
    end
  end
end
