defmodule Wexlo.Target do
  @moduledoc false
  # The packer's targets, and which one an assembled release is for. A
  # release carries the runtime it was assembled with (`include_erts:`): a
  # Windows one has erl.exe where a Linux one has the erl script, and a Linux
  # one's erlexec is a program for the CPU it runs on.

  @names ["linux-x86_64", "linux-aarch64", "windows-x86_64"]

  # ELF e_machine values of the CPUs with a Linux target.
  @elf_machines %{62 => "linux-x86_64", 183 => "linux-aarch64"}

  def names, do: @names

  def windows?(target), do: target == "windows-x86_64"

  # The target of the release at `release_path`'s runtime, or nil when its
  # runtime says nothing the packer knows (the packer then takes its default
  # and checks the runtime itself).
  def detect(release_path) do
    case erts_bins(release_path) do
      [] ->
        nil

      bins ->
        if Enum.any?(bins, &File.regular?(Path.join(&1, "erl.exe"))) do
          "windows-x86_64"
        else
          Enum.find_value(bins, &elf_target(Path.join(&1, "erlexec")))
        end
    end
  end

  defp erts_bins(release_path) do
    case File.ls(release_path) do
      {:ok, entries} ->
        for entry <- Enum.sort(entries),
            String.starts_with?(entry, "erts-"),
            do: Path.join([release_path, entry, "bin"])

      {:error, _} ->
        []
    end
  end

  defp elf_target(path) do
    with {:ok, file} <- File.open(path, [:read, :binary]),
         header = IO.binread(file, 20),
         :ok <- File.close(file),
         {:ok, machine} <- elf_machine(header) do
      Map.get(@elf_machines, machine)
    else
      _ -> nil
    end
  end

  # e_machine sits after the 16 identification bytes and e_type, in the
  # byte order the identification names (1: little-endian, 2: big-endian).
  defp elf_machine(<<0x7F, "ELF", class, 1, 1, _::binary-size(9), _type::16, m::little-16>>)
       when class in [1, 2],
       do: {:ok, m}

  defp elf_machine(<<0x7F, "ELF", class, 2, 1, _::binary-size(9), _type::16, m::big-16>>)
       when class in [1, 2],
       do: {:ok, m}

  defp elf_machine(_), do: :error
end
