defmodule Wexlo do
  @moduledoc """
  A `mix release` step that packs the assembled release into one executable.

  Add the package and the step to your `mix.exs`:

      def project do
        [
          # ...
          deps: [{:wexlo, path: "path/to/wexlo/elixir", runtime: false}],
          releases: [my_app: [steps: [:assemble, &Wexlo.pack/1]]]
        ]
      end

  Then `MIX_ENV=prod mix release` leaves `_build/prod/wexlo/my_app`, an
  executable for the operating system and CPU of the runtime the release was
  assembled with: Linux x86_64 or aarch64 (told by the CPU of its
  `erts-*/bin/erlexec`), or Windows x86_64 (`my_app.exe`, when the runtime
  has `erts-*/bin/erl.exe`). To build for another target, point the
  release's `include_erts:` at that target's runtime; a project that ships
  several targets defines one release per target and runs
  `mix release NAME` for each.

  A command-line application does its work in its start callback and ends
  it with `System.halt/1`. A release that keeps running (a server) is packed
  with `service: true` instead and runs until it is stopped, like
  `bin/my_app start`. See the Wexlo README.

  ## Options

  Under the release's `wexlo:` key, all optional:

    * `:output_dir` - where the executable goes (default: `wexlo/` in the
      build path, e.g. `_build/prod/wexlo`)
    * `:packer` - path of the `wexlo` program (default: the `WEXLO_PACKER`
      environment variable, else `wexlo` on `PATH`)
    * `:target` - `"linux-x86_64"`, `"linux-aarch64"` or `"windows-x86_64"`
      (default: the target of the release's runtime, as above)
    * `:stub` - path of the launcher stub to use (default: the one installed
      with the packer for the target)
    * `:block_size` - compression block size in bytes (default: the
      packer's, 8 MiB)
    * `:threads` - compression threads, `0` for one per core (default);
      the output does not depend on it
    * `:service` - `true` for a release that keeps running: the executable
      boots it without Elixir's command-line handler, so `start/2` returns
      its supervisor and the user's arguments stay the application's
      (default: `false`)
    * `:compression` - `:xz` (default; the smallest executable) or `:zstd`
      (a first run several times as fast, for a few per cent more bytes)
    * `:level` - zstd's level, -131072 to 22 (default 19); with
      `compression: :zstd` only
    * `:icon` - Windows only: the executable's icon, the path of an `.ico`
      file
    * `:version_info` - Windows only: version strings Explorer shows, such
      as `[CompanyName: "Example Ltd", LegalCopyright: "© 2026 Example Ltd"]`;
      they add to (or replace) the product name, description and versions
      the executable carries anyway
    * `:allow_foreign` - paths inside the release of files that may be
      built for another target, because the release never loads them, such
      as `["lib/pkg-1.0/priv/tool.exe"]`

  On a terminal the packer shows its progress and a summary line; `mix
  release --quiet` silences both.

  For example:

      releases: [
        my_app: [
          steps: [:assemble, &Wexlo.pack/1],
          wexlo: [output_dir: "dist", threads: 2]
        ]
      ]
  """

  @doc """
  Packs `release` (already assembled: it must come after `:assemble` in
  `:steps`, and refuses to run before it) and returns it unchanged. Checks
  the `wexlo:` options and finds the packer first; stops the release with a
  message naming what is wrong, or with the packer's message when packing
  fails.
  """
  @spec pack(Mix.Release.t()) :: Mix.Release.t()
  def pack(%Mix.Release{} = release) do
    # Mix hands each step the steps still to come: with :assemble among them
    # the release directory holds the previous build, or nothing.
    if :assemble in (release.steps || []) do
      Mix.raise(
        "wexlo: the release is not assembled yet; " <>
          "put &Wexlo.pack/1 after :assemble in the release's steps: " <>
          "steps: [:assemble, &Wexlo.pack/1]"
      )
    end

    options = Wexlo.Options.from_release(release)
    packer = Wexlo.Packer.find!(options.packer)
    target = options.target || Wexlo.Target.detect(release.path)

    output_dir = Path.expand(options.output_dir || Path.join(Mix.Project.build_path(), "wexlo"))
    output = Path.join(output_dir, executable_name(release.name, Wexlo.Target.windows?(target)))
    File.mkdir_p!(output_dir)

    quiet? = release.options[:quiet] == true

    # On the user's terminal the packer draws its own progress (about ten
    # seconds for a typical release) and summary line.
    if not quiet? and Mix.shell() == Mix.Shell.IO and Wexlo.Packer.terminal?() do
      Wexlo.Packer.run_on_terminal!(packer, pack_args(release.path, output, target, options, []))
    else
      args = pack_args(release.path, output, target, options, ["--quiet"])
      warnings = Wexlo.Packer.run!(packer, args)
      if warnings != "", do: Mix.shell().info(String.trim_trailing(warnings))

      unless quiet? do
        Mix.shell().info([:green, "* packed ", :reset, Path.relative_to_cwd(output)])
      end
    end

    release
  end

  defp pack_args(release_path, output, target, options, quiet) do
    ["pack", release_path, "--output", output] ++
      quiet ++
      if(target, do: ["--target", target], else: []) ++
      if(options.stub, do: ["--stub", Path.expand(options.stub)], else: []) ++
      integer_option("--block-size", options.block_size) ++
      integer_option("--threads", options.threads) ++
      if(options.service, do: ["--service"], else: []) ++
      if(options.compression, do: ["--compression", Atom.to_string(options.compression)], else: []) ++
      integer_option("--level", options.level) ++
      if(options.icon, do: ["--icon", options.icon], else: []) ++
      version_info_args(options.version_info) ++
      Enum.flat_map(options.allow_foreign || [], &["--allow-foreign", &1])
  end

  # A map has no order of its own; the packer writes the strings as given.
  defp version_info_args(nil), do: []
  defp version_info_args(info) when is_map(info), do: version_info_args(Enum.sort(info))

  defp version_info_args(info) do
    Enum.flat_map(info, fn {key, value} -> ["--version-info", "#{key}=#{value}"] end)
  end

  defp integer_option(_flag, nil), do: []
  defp integer_option(flag, value), do: [flag, Integer.to_string(value)]

  defp executable_name(name, true = _windows?), do: "#{name}.exe"
  defp executable_name(name, false), do: "#{name}"
end
