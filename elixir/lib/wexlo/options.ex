defmodule Wexlo.Options do
  @moduledoc false
  # Reads the `wexlo:` key of a release's configuration. Unknown keys and
  # values of the wrong kind stop the release here, with the key named (and
  # the known key it most resembles), rather than as an obscure error from the
  # packer later.

  @type t :: %{
          output_dir: Path.t() | nil,
          packer: String.t() | nil,
          block_size: pos_integer() | nil,
          threads: non_neg_integer() | nil,
          service: boolean() | nil,
          compression: :xz | :zstd | nil,
          level: integer() | nil,
          target: String.t() | nil,
          stub: Path.t() | nil,
          icon: Path.t() | nil,
          version_info: [{atom() | String.t(), String.t()}] | nil,
          allow_foreign: [String.t()] | nil
        }

  @keys [
    :output_dir,
    :packer,
    :target,
    :stub,
    :block_size,
    :threads,
    :service,
    :compression,
    :level,
    :icon,
    :version_info,
    :allow_foreign
  ]

  # zstd's levels, as the packer takes them.
  @levels -131_072..22

  # The packing options of `release`, every key present (`nil` when not set).
  def from_release(%Mix.Release{options: options}) do
    given = Keyword.get(options, :wexlo, [])

    unless Keyword.keyword?(given) do
      Mix.raise(
        "wexlo: expected the release's wexlo: option to be a keyword list, got: #{inspect(given)}"
      )
    end

    Enum.each(given, &check/1)

    if Keyword.has_key?(given, :level) and given[:compression] != :zstd do
      Mix.raise("wexlo: level: applies to compression: :zstd only")
    end

    Map.new(@keys, &{&1, Keyword.get(given, &1)})
  end

  defp check({key, value}) when key in [:output_dir, :packer, :stub, :icon] and is_binary(value),
    do: :ok

  defp check({:target, value}) when is_binary(value) do
    if value in Wexlo.Target.names(), do: :ok, else: invalid(:target, value)
  end

  defp check({:level, value}) when is_integer(value) and value in @levels, do: :ok
  defp check({:block_size, value}) when is_integer(value) and value > 0, do: :ok
  defp check({:threads, value}) when is_integer(value) and value >= 0, do: :ok
  defp check({:service, value}) when is_boolean(value), do: :ok
  defp check({:compression, value}) when value in [:xz, :zstd], do: :ok

  defp check({:version_info, value} = option) when is_list(value) or is_map(value) do
    if Enum.all?(value, &version_string?/1), do: :ok, else: invalid!(option)
  end

  defp check({:allow_foreign, value} = option) when is_list(value) do
    if value != [] and Enum.all?(value, &is_binary/1), do: :ok, else: invalid!(option)
  end

  defp check({key, _value} = option) when key in @keys, do: invalid!(option)

  defp check({key, _value}) do
    Mix.raise(
      "wexlo: unknown option #{inspect(key)}#{suggestion(key)} " <>
        "(known: #{Enum.map_join(@keys, ", ", &inspect/1)})"
    )
  end

  defp invalid!({key, value}), do: invalid(key, value)

  defp invalid(key, value) do
    Mix.raise("wexlo: #{inspect(value)} is not a valid #{key} (#{expected(key)})")
  end

  defp version_string?({key, value}) when is_atom(key) or is_binary(key), do: is_binary(value)
  defp version_string?(_), do: false

  defp suggestion(key) do
    {distance, known} =
      @keys
      |> Enum.map(&{String.jaro_distance(to_string(key), Atom.to_string(&1)), &1})
      |> Enum.max()

    if distance >= 0.8, do: "; did you mean #{inspect(known)}?", else: ""
  end

  defp expected(key) when key in [:output_dir, :packer, :stub], do: "a path, as a string"
  defp expected(:target), do: Enum.map_join(Wexlo.Target.names(), ", ", &inspect/1)
  defp expected(:level), do: "an integer from #{@levels.first} to #{@levels.last}"
  defp expected(:icon), do: "the path of an .ico file, as a string"

  defp expected(:version_info),
    do: ~s(version strings such as [CompanyName: "Example Ltd"], each value a string)

  defp expected(:allow_foreign),
    do: ~s(paths inside the release, as strings, such as ["lib/pkg-1.0/priv/tool.exe"])

  defp expected(:block_size), do: "a positive number of bytes"
  defp expected(:threads), do: "a non-negative integer; 0 means one per core"
  defp expected(:service), do: "true or false"
  defp expected(:compression), do: ":xz or :zstd"
end
