defmodule Wexlo.Packer do
  @moduledoc false
  # Finds and runs the `wexlo` packer program. The packer is a native Linux
  # program built from the Wexlo repository; it finds its launcher stubs
  # beside itself or in ../lib/wexlo, so it is used where it was built or
  # installed rather than copied alone.

  @how_to_get_it """
  Install it from the Wexlo repository (`sh scripts/build-packer.sh && cmake --install \
  build/release --prefix ~/.local` puts it in ~/.local/bin with the launchers of every target, \
  or install the .deb that `cpack -G DEB` then makes in build/release), then put its directory \
  on PATH, set WEXLO_PACKER to the program's path, or give its path as packer: in the release's \
  wexlo: options.\
  """

  # The path of the packer: `configured` (the release's `packer:` option),
  # else the `WEXLO_PACKER` environment variable, else `wexlo` on `PATH`. A
  # value with a `/` in it is a path (relative to the project); a bare name
  # is looked up on `PATH`. Raises with directions when none is found.
  def find!(configured) do
    case configured || non_empty(System.get_env("WEXLO_PACKER")) do
      nil ->
        System.find_executable("wexlo") ||
          Mix.raise("wexlo: the packer program `wexlo` is not on PATH.\n" <> @how_to_get_it)

      name ->
        source = if configured, do: "the release's packer: option", else: "WEXLO_PACKER"

        executable(name) ||
          Mix.raise(
            "wexlo: the packer #{inspect(name)} (from #{source}) is not an executable file.\n" <>
              @how_to_get_it
          )
    end
  end

  # Runs `packer` with `args`, its output captured. Returns what it printed
  # (its warnings) when it succeeds, and raises with that output when it
  # fails.
  def run!(packer, args) do
    case System.cmd(packer, args, stderr_to_stdout: true) do
      {output, 0} ->
        output

      {output, status} ->
        Mix.raise(
          "wexlo: packing failed (#{packer} exited with status #{status}):\n" <>
            String.trim_trailing(output)
        )
    end
  end

  # Runs `packer` on the terminal the release step runs on, so it draws its
  # progress and prints its warnings, summary line or error there itself.
  def run_on_terminal!(packer, args) do
    port = Port.open({:spawn_executable, packer}, [:nouse_stdio, :exit_status, args: args])

    receive do
      {^port, {:exit_status, 0}} ->
        :ok

      {^port, {:exit_status, status}} ->
        Mix.raise("wexlo: packing failed (#{packer} exited with status #{status}; see above)")
    end
  end

  # Whether standard error is a terminal: a child's standard error is the
  # runtime's own unless redirected.
  def terminal? do
    case System.find_executable("test") do
      nil -> false
      test -> match?({_, 0}, System.cmd(test, ["-t", "2"]))
    end
  end

  defp non_empty(""), do: nil
  defp non_empty(value), do: value

  defp executable(name) do
    if String.contains?(name, "/") do
      path = Path.expand(name)
      if File.regular?(path) and executable_bits?(path), do: path
    else
      System.find_executable(name)
    end
  end

  defp executable_bits?(path) do
    match?({:ok, %File.Stat{mode: mode}} when Bitwise.band(mode, 0o111) != 0, File.stat(path))
  end
end
