# Copies of every source file that hot reload accepts: the latest copy, one
# timestamped copy per change, and a change list as text and as a web page,
# all under "tmp/src_backup" in the base directory.
module QMX
  module Backup
    DIRECTORY = "tmp/src_backup".freeze

    def backup_directory
      DIRECTORY
    end

    # A change line is "latest copy, time, source path", and both paths may
    # hold ", " themselves. The time is digits, and the latest copy's name
    # is made from the source path: the split where both agree is the one
    # that was written. The development machine reads its own list with it,
    # and a device the list it fetches for remote hot reload.
    def self.change_fields(line)
      parts = line.split(", ")
      splits = (0...parts.length - 2).map do |a|
        [parts[0..a].join(", ").strip, parts[a + 1].strip, parts[a + 2..-1].join(", ").strip]
      end
      timed = splits.select { |_, time, _| !time.empty? && time.bytes.all? { |b| b >= 48 && b <= 57 } }
      timed.find { |latest, _, key| latest == latest_copy(key) } || timed.first ||
        line.split(",").map(&:strip)
    end

    def self.latest_copy(file)
      "#{DIRECTORY}/#{copy_name(file)}.rb"
    end

    # One name per source path. The short form (every "/" made "_", ".rb"
    # dropped) is kept where no other path can share it: no "_" in the path
    # and ".rb" only at its end. Other paths spell out "_" and "/" as "_u"
    # and "_s" and keep their extension, which a short form never contains,
    # so "app/a_b.rb" and "app/a/b.rb" keep separate backups.
    def self.copy_name(file)
      if !file.include?("_") && !file.chomp(".rb").include?(".rb")
        "src_backup_#{file.gsub("/", "_").gsub(".rb", "")}"
      else
        "src_backup_#{file.gsub("_", "_u").gsub("/", "_s")}"
      end
    end

    def backup_load_changes
      changes = {}
      text = read_file("#{backup_directory}/src_backup_changes.txt") || ""
      text.split("\n").each do |line|
        next if line.strip.empty?
        latest_file, time, key = Backup.change_fields(line)
        changes[key] = { time: time, latest_file: latest_file, key: key }
      end
      changes
    end

    def backup_file(file)
      at = Time.now.to_i
      timestamped_path = "#{backup_directory}/archived/#{Backup.copy_name(file)}_#{at}.rb"
      path = Backup.latest_copy(file)
      source = read_file(file) || ""
      write_file_root(timestamped_path, source)
      write_file_root(path, source)
      { key: file, at: at, timestamped_path: timestamped_path, path: path }
    end

    def backup_write_changes(changes)
      text = changes.map { |k, v| "#{v[:latest_file]}, #{v[:time]}, #{k}" }.join("\n")
      write_file_root("#{backup_directory}/src_backup_changes.txt", text)
      # A file name may hold an apostrophe or an ampersand.
      contents = changes.map do |k, v|
        "<li><a href='/#{Markup.escape(File.basename(v[:latest_file].to_s))}'>#{Markup.escape(k)}</a></li>"
      end.join("\n")
      write_file_root("#{backup_directory}/src_backup_changes.html",
                      backup_page_template.gsub("{{content}}", "<ul>#{contents}</ul>"))
    end

    # A released game's player gets none of this.
    def backup_create(file)
      return if @production
      backup_create_index
      return if file.include?("src_backup")
      unless @src_backup_initialized
        write_file_root("#{backup_directory}/src_backup_changes.txt", "")
        @src_backup_initialized = true
      end
      changes = backup_load_changes
      backup = backup_file(file)
      changes[file] = { time: backup[:at], latest_file: backup[:path], key: file }
      backup_write_changes(changes)
    end

    def backup_create_index
      write_file_root("#{backup_directory}/src_backup.css", backup_css)
      write_file_root("#{backup_directory}/src_backup_index.html", backup_html)
    end

    def backup_css
      <<~CSS
        body {
          padding: 0 25px 50px 25px;
          max-width: 920px;
          margin: 0 auto;
          font: 300 16px/1.5 Helvetica, Arial, sans-serif;
          background: #ffffff;
          color: #222222;
        }
        a { color: #0077CC; text-decoration: none; }
        a:visited { color: #4A6B82; }
        h1, h2, h3 { border-bottom: 1px solid silver; }
        h1 { font-size: 26px; }
        h2 { font-size: 22px; }
        h3 { font-size: 18px; }
        img { max-width: 640px; max-height: 320px; display: block; margin: 0 auto; border: 1px solid silver; }
        hr { border: 0; height: 1px; background: #dddddd; }
        pre { border: 1px solid silver; padding: 8px; }
        code { background: #f4f4f4; }
        blockquote { font-style: italic; }
      CSS
    end

    def backup_html
      body = [
        "    <h1>Vellumcore Source Code Backup</h1>",
        "    <div id='content' itemscope=\"itemscope\" itemtype=\"backup-information\">",
        "      This directory holds every change made to the game's code while the engine ran,",
        "      and a list of all the changes so far.",
        "      <br />",
        "      <a href=\"/src_backup_changes.txt\" itemprop=\"changes\">src_backup_changes.txt</a>",
        "      <a href=\"/src_backup_changes.html\">src_backup_changes.html</a>",
        "    </div>"
      ].join("\n")
      backup_page_template.gsub("    {{content}}") { body }
    end

    private

    def backup_page_template
      [
        "<html>",
        "  <head>",
        "    <title>Vellumcore Source Code Backup</title>",
        "    <link href=\"src_backup.css\" rel=\"stylesheet\" type=\"text/css\" media=\"all\">",
        "  </head>",
        "  <body>",
        "    {{content}}",
        "  </body>",
        "</html>"
      ].join("\n") + "\n"
    end
  end
end
